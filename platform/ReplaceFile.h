// Replacing a whole file in one step, for files the program rewrites (INI files, the
// simulator's state): the bytes go to a temporary file beside it, which is flushed to disk
// and renamed over it, so that readers, a crash or a full disk leave either the old file or
// the new one, never half of it.
#pragma once

#include <cstdint>
#include <string>

// Replaces the file at path with bytes, creating it when missing. An existing file keeps
// its permissions (on POSIX also its owner where we may set it), and a symbolic link keeps
// pointing at it: the file it names is replaced. On failure returns false with the system's
// error code (errno, or GetLastError on Windows) and leaves the file as it was.
bool ReplaceFileAtomically(const std::wstring& path, const std::string& bytes, uint32_t& error);
