// Executable path, relative-path test and file attributes.
#pragma once

#include <cstdint>
#include <string>

#ifdef _WIN32
inline constexpr wchar_t kPathSeparator = L'\\';
#else
inline constexpr wchar_t kPathSeparator = L'/';
#endif

inline constexpr uint32_t kFileAttributeDirectory = 0x10;

// Full path of the running executable (GetModuleFileNameW, 260 characters).
std::wstring ExecutablePath();
// The directory of the running executable, without a trailing separator.
std::wstring ExecutableDirectory();
// The directory that relative INI file names are taken from, without a trailing separator.
// Windows: the executable's directory, for a program unpacked into a folder of its own.
// POSIX: the current directory, as for any command there (an installed program lives in
// /usr/bin, where the executable's rule would put the user's files into a system folder).
std::wstring IniBaseDirectory();
// PathIsRelativeW: true unless the path is absolute.
bool PathIsRelative(const std::wstring& path);
// GetFileAttributesW. On failure returns false and sets error to the platform's last
// error code (GetLastError on Windows, errno elsewhere).
bool QueryFileAttributes(const std::wstring& path, uint32_t& attributes, uint32_t& error);
