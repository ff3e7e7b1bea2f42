#include <windows.h>

#include <algorithm>

#include "platform/ReplaceFile.h"

namespace {

// Writes bytes to a new file at temp and flushes them to disk.
bool WriteFlushed(const std::wstring& temp, const std::string& bytes, uint32_t& error) {
    struct Closer {
        HANDLE handle;
        ~Closer() {
            if (handle != INVALID_HANDLE_VALUE) {
                CloseHandle(handle);
            }
        }
    } file{CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (file.handle == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    for (size_t done = 0; done < bytes.size();) {
        DWORD wrote = 0;
        const size_t chunk = std::min<size_t>(bytes.size() - done, 1u << 20);
        if (!WriteFile(file.handle, bytes.data() + done, static_cast<DWORD>(chunk), &wrote,
                       nullptr) ||
            wrote == 0) {
            error = GetLastError();
            return false;
        }
        done += wrote;
    }
    if (!FlushFileBuffers(file.handle)) {
        error = GetLastError();
        return false;
    }
    return true;
}

}  // namespace

bool ReplaceFileAtomically(const std::wstring& path, const std::string& bytes, uint32_t& error) {
    const std::wstring temp = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    if (!WriteFlushed(temp, bytes, error)) {
        DeleteFileW(temp.c_str());
        return false;
    }
    if (!MoveFileExW(temp.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}
