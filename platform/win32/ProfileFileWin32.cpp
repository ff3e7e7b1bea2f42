// INI files on Windows, for our own private-profile code (the product itself calls the
// system's profile functions; the tests compare the two).
#include <windows.h>

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

uint32_t InvalidParameterError() {
    return ERROR_INVALID_PARAMETER;
}

}  // namespace portable_profile
