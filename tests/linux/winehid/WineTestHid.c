/* A stand-in hid.dll for Wine prefixes of the Wine-on-bed test only: Wine 8's HID class
 * driver has no IOCTL_HID_FLUSH_QUEUE, so HidD_FlushQueue is answered here; every other
 * export is forwarded (WineTestHid.def) to Wine's own hid.dll, installed beside this one as
 * hidwine.dll. Never shipped, never installed outside a throw-away prefix. */
#include <windows.h>

/* Larger than any input report of the emulated devices; the class driver refuses reads
 * shorter than the input report length, not longer ones. */
#define DRAIN_BUFFER_SIZE 4096
/* A device that keeps sending cannot hold the flush forever. */
#define DRAIN_LIMIT 512

/* Discards the reports already queued on the handle, as the Windows class driver does:
 * every read that completes at once takes one queued report; the first one that would
 * wait finds the queue empty and is cancelled. A read that fails for any other reason fails
 * the flush with its error, so a vanished device is reported here as on Windows. */
__declspec(dllexport) BOOLEAN __stdcall HidD_FlushQueue(HANDLE device) {
    static BYTE buffer[DRAIN_BUFFER_SIZE];
    OVERLAPPED overlapped;
    DWORD count = 0;
    int drained = 0;
    HANDLE event = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (event == NULL) {
        return FALSE;
    }
    for (; drained < DRAIN_LIMIT; ++drained) {
        ZeroMemory(&overlapped, sizeof overlapped);
        overlapped.hEvent = event;
        ResetEvent(event);
        if (ReadFile(device, buffer, sizeof buffer, &count, &overlapped)) {
            continue;
        }
        if (GetLastError() != ERROR_IO_PENDING) {
            const DWORD error = GetLastError();
            CloseHandle(event);
            SetLastError(error);
            return FALSE;
        }
        CancelIo(device);
        /* Either cancelled or completed just now with a report, which is discarded too. */
        if (!GetOverlappedResult(device, &overlapped, &count, TRUE) &&
            GetLastError() != ERROR_OPERATION_ABORTED) {
            const DWORD error = GetLastError();
            CloseHandle(event);
            SetLastError(error);
            return FALSE;
        }
        break;
    }
    CloseHandle(event);
    return TRUE;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
