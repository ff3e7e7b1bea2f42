#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "platform/Paths.h"
#include "platform/Text.h"

std::wstring ExecutablePath() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0) {
        return {};
    }
    return Widen(std::string_view(buffer, static_cast<size_t>(length)));
}

std::wstring ExecutableDirectory() {
    const std::wstring path = ExecutablePath();
    const size_t last = path.find_last_of(kPathSeparator);
    return last == std::wstring::npos ? std::wstring() : path.substr(0, last);
}

std::wstring IniBaseDirectory() {
    std::string buffer(PATH_MAX, '\0');
    if (getcwd(buffer.data(), buffer.size()) == nullptr) {
        return L".";  // the current directory has gone: relative names stay relative to it
    }
    buffer.resize(std::strlen(buffer.c_str()));
    return Widen(buffer);
}

bool PathIsRelative(const std::wstring& path) {
    return path.empty() || path.front() != L'/';
}

bool QueryFileAttributes(const std::wstring& path, uint32_t& attributes, uint32_t& error) {
    struct stat info {};
    if (stat(Narrow(path).c_str(), &info) != 0) {
        error = static_cast<uint32_t>(errno);
        return false;
    }
    // The Windows attribute words the callers test: directory, otherwise a normal file,
    // read-only when nobody may write it.
    attributes = S_ISDIR(info.st_mode) ? kFileAttributeDirectory : 0x80;
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        attributes |= 0x01;
    }
    return true;
}
