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
// PathIsRelativeW: true unless the path is absolute.
bool PathIsRelative(const std::wstring& path);
// GetFileAttributesW. On failure returns false and sets error to the platform's last
// error code (GetLastError on Windows, errno elsewhere).
bool QueryFileAttributes(const std::wstring& path, uint32_t& attributes, uint32_t& error);
