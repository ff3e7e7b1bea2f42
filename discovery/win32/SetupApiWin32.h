// Owners for the SetupAPI and kernel resources the device walks hold, and the two-call
// read of an interface's detail record.
#pragma once

#include <windows.h>
// windows.h first
#include <setupapi.h>

#include <cstddef>
#include <cwchar>
#include <string>
#include <vector>

#include "log/Log.h"

namespace discovery_win32 {

class DevInfoSet {
public:
    explicit DevInfoSet(HDEVINFO set) : handle(set) {}
    ~DevInfoSet() {
        if (valid()) {
            SetupDiDestroyDeviceInfoList(handle);
        }
    }
    DevInfoSet(const DevInfoSet&) = delete;
    DevInfoSet& operator=(const DevInfoSet&) = delete;

    bool valid() const { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
    HDEVINFO get() const { return handle; }

private:
    HDEVINFO handle;
};

class FileHandle {
public:
    explicit FileHandle(HANDLE file) : handle(file) {}
    ~FileHandle() {
        if (valid()) {
            CloseHandle(handle);
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool valid() const { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
    HANDLE get() const { return handle; }

private:
    HANDLE handle;
};

// SP_DEVICE_INTERFACE_DETAIL_DATA_W in a buffer of the size the system asks for.
class InterfaceDetail {
public:
    enum class Result { Ok, SizeQueryFailed, ReadFailed };

    Result read(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interfaceData) {
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &required, nullptr);
        lastError = GetLastError();
        if (lastError != ERROR_INSUFFICIENT_BUFFER) {
            return Result::SizeQueryFailed;
        }
        // DWORD elements keep the record aligned; never smaller than its fixed part, so
        // cbSize can always be written.
        const size_t bytes = required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)
                                 ? sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)
                                 : required;
        storage.assign((bytes + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
        size = required;
        // cbSize is the fixed part as the target lays it out: 8 on x64, 6 on x86.
        record()->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, record(), required, nullptr,
                                              nullptr)) {
            lastError = GetLastError();
            return Result::ReadFailed;
        }
        return Result::Ok;
    }

    DWORD error() const { return lastError; }

    // The path, never running past the buffer even if the system left it unterminated.
    std::wstring devicePath() const {
        constexpr size_t offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
        if (size <= offset) {
            return {};
        }
        const size_t room = (size - offset) / sizeof(WCHAR);
        const WCHAR* path = record()->DevicePath;
        return std::wstring(path, wcsnlen(path, room));
    }

private:
    SP_DEVICE_INTERFACE_DETAIL_DATA_W* record() {
        return reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    }
    const SP_DEVICE_INTERFACE_DETAIL_DATA_W* record() const {
        return reinterpret_cast<const SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    }

    std::vector<DWORD> storage;
    DWORD size = 0;
    DWORD lastError = 0;
};

// Reads the detail record of one interface of a walk; a failure is logged with the walk's
// name ("enumerateHid", "enumerateUsb") and means: go on with the next interface.
inline bool ReadInterfaceDetail(InterfaceDetail& detail, HDEVINFO set,
                                SP_DEVICE_INTERFACE_DATA& interfaceData, const char* walk) {
    const InterfaceDetail::Result result = detail.read(set, interfaceData);
    if (result == InterfaceDetail::Result::Ok) {
        return true;
    }
    LogMessage(LogDebug,
               "ZelHidDisplayList::%s - SetupDiGetDeviceInterfaceDetail(%d) failed, "
               "error=0x%08x - continuing ...",
               walk, result == InterfaceDetail::Result::SizeQueryFailed ? 0 : 1,
               static_cast<unsigned>(detail.error()));
    return false;
}

}  // namespace discovery_win32
