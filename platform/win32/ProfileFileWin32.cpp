// INI files on Windows, for our own private-profile code (the product itself calls the
// system's profile functions; the tests compare the two).
#include <windows.h>

#include <algorithm>

#include "platform/ProfileFile.h"

namespace portable_profile {
namespace {

struct HandleCloser {
    HANDLE handle = INVALID_HANDLE_VALUE;
    ~HandleCloser() {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
};

bool ReadAll(HANDLE handle, std::string& bytes, uint32_t& error) {
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(handle, buffer, sizeof(buffer), &got, nullptr)) {
            error = GetLastError();
            return false;
        }
        if (got == 0) {
            return true;
        }
        bytes.append(buffer, got);
    }
}

}  // namespace

// Reads the file; a missing file is "absent", not an error. With forWriting the file must
// also be writable, as the Windows function opens it for writing.
bool LoadProfileFile(const std::wstring& path, bool forWriting, std::string& bytes, bool& exists,
                     uint32_t& error) {
    exists = false;
    HandleCloser file;
    file.handle = CreateFileW(path.c_str(), GENERIC_READ | (forWriting ? GENERIC_WRITE : 0),
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file.handle == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND;
    }
    exists = true;
    // Read at the file's size: growing as it comes would hold up to twice as much.
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file.handle, &size) && size.QuadPart > 0) {
        bytes.reserve(static_cast<size_t>(size.QuadPart) + 1);
    }
    return ReadAll(file.handle, bytes, error);
}

bool StoreProfileFile(const std::wstring& path, const std::string& bytes, bool /*exists*/,
                      uint32_t& error) {
    const std::wstring temp = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    {
        HandleCloser file;
        file.handle = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file.handle == INVALID_HANDLE_VALUE) {
            error = GetLastError();
            return false;
        }
        size_t done = 0;
        while (done < bytes.size()) {
            DWORD wrote = 0;
            const size_t chunk = std::min<size_t>(bytes.size() - done, 1u << 20);
            if (!WriteFile(file.handle, bytes.data() + done, static_cast<DWORD>(chunk), &wrote,
                           nullptr) ||
                wrote == 0) {
                error = GetLastError();
                CloseHandle(file.handle);
                file.handle = INVALID_HANDLE_VALUE;
                DeleteFileW(temp.c_str());
                return false;
            }
            done += wrote;
        }
        if (!FlushFileBuffers(file.handle)) {
            error = GetLastError();
            CloseHandle(file.handle);
            file.handle = INVALID_HANDLE_VALUE;
            DeleteFileW(temp.c_str());
            return false;
        }
    }
    if (!MoveFileExW(temp.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}

uint32_t InvalidParameterError() {
    return ERROR_INVALID_PARAMETER;
}

}  // namespace portable_profile
