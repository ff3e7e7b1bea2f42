/* A stand-in hid.dll for Wine prefixes of the Wine-on-bed test only: Wine 8's HID class
 * driver has no IOCTL_HID_FLUSH_QUEUE, so HidD_FlushQueue is answered here; every other
 * export is forwarded (WineTestHid.def) to Wine's own hid.dll, installed beside this one as
 * hidwine.dll. Never shipped, never installed outside a throw-away prefix. */
#include <windows.h>

/* Discards the reports already queued on the handle, as the Windows class driver does:
 * every read that completes at once takes one (the buffer is longer than any input report
 * of the emulated devices); the first one that would wait finds the queue empty and is
 * cancelled. A read that fails for any other reason fails the flush with its error, so a
 * vanished device is reported here as on Windows. At most 512 reads, so a device that keeps
 * sending cannot hold the flush. */
__declspec(dllexport) BOOLEAN __stdcall HidD_FlushQueue(HANDLE device) {
    static BYTE buffer[4096];
    OVERLAPPED overlapped;
    DWORD count = 0;
    DWORD error = 0;
    HANDLE event = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (event == NULL) {
        return FALSE;
    }
    for (int drained = 0; drained < 512 && error == 0; ++drained) {
        ZeroMemory(&overlapped, sizeof overlapped);
        overlapped.hEvent = event;
        ResetEvent(event);
        if (ReadFile(device, buffer, sizeof buffer, &count, &overlapped)) {
            continue;
        }
        error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            CancelIo(device);
            /* Either cancelled or completed just now with a report, which is discarded too. */
            error = GetOverlappedResult(device, &overlapped, &count, TRUE) ? 0 : GetLastError();
            error = error == ERROR_OPERATION_ABORTED ? 0 : error;
            break;
        }
    }
    CloseHandle(event);
    SetLastError(error);
    return error == 0;
}
