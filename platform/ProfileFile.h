// Reading INI files for our own private-profile code (platform/PortableProfile): the file
// I/O of each system, apart from the parser and formatter that are the same on all. Files are
// written back with ReplaceFileAtomically (platform/ReplaceFile.h).
#pragma once

#include <cstdint>
#include <string>

namespace portable_profile {

// Reads the whole file into bytes. A missing file is not an error: true with exists false.
// With forWriting the file must also be writable, as the Windows function opens it for
// writing. On failure returns false with the platform's error code.
bool LoadProfileFile(const std::wstring& path, bool forWriting, std::string& bytes, bool& exists,
                     uint32_t& error);

// The platform's error code for a name or value the profile functions refuse.
uint32_t InvalidParameterError();

}  // namespace portable_profile
