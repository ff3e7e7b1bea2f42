#include <shlwapi.h>
#include <windows.h>
// shlwapi.h maps PathIsRelative to PathIsRelativeW; ours is a function of its own.
#undef PathIsRelative

#include "platform/Paths.h"

std::wstring ExecutablePath() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return std::wstring(buffer, length);
}

std::wstring ExecutableDirectory() {
    const std::wstring path = ExecutablePath();
    const size_t last = path.find_last_of(kPathSeparator);
    return last == std::wstring::npos ? std::wstring() : path.substr(0, last);
}

std::wstring IniBaseDirectory() {
    return ExecutableDirectory();
}

bool PathIsRelative(const std::wstring& path) {
    return PathIsRelativeW(path.c_str()) != FALSE;
}

bool QueryFileAttributes(const std::wstring& path, uint32_t& attributes, uint32_t& error) {
    const DWORD result = GetFileAttributesW(path.c_str());
    if (result == INVALID_FILE_ATTRIBUTES) {
        error = GetLastError();
        return false;
    }
    attributes = result;
    return true;
}
