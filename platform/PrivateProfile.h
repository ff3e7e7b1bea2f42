// Private-profile (INI) access. On Windows ProfileReadString/ProfileWriteString are the
// real GetPrivateProfileStringW/WritePrivateProfileStringW; elsewhere they are the portable
// implementation below, which the Windows tests compare with the real functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// GetPrivateProfileStringW(section, key, no default, 260-character buffer, path):
// section and key match without regard to case, the value is trimmed of surrounding
// blanks, and a missing file, section, key or value gives "" and 0. Returns the count of
// characters stored in value.
uint32_t ProfileReadString(const std::wstring& section, const std::wstring& key,
                           const std::wstring& path, std::wstring& value);

// One value asked of a file, and the answer ProfileReadString gives for it.
struct ProfileQuery {
    std::wstring section;
    std::wstring key;
    std::wstring value;
    uint32_t count = 0;
};

// ProfileReadString for each query, on one file. Our own reader reads and parses the file
// once for all of them; on Windows each is one GetPrivateProfileStringW.
void ProfileReadStrings(const std::wstring& path, std::vector<ProfileQuery>& queries);

// WritePrivateProfileStringW(section, key, value, path). Returns false and the platform's
// error code when the file could not be written.
bool ProfileWriteString(const std::wstring& section, const std::wstring& key,
                        const std::wstring& value, const std::wstring& path, uint32_t& error);

namespace portable_profile {
uint32_t ReadString(const std::wstring& section, const std::wstring& key, const std::wstring& path,
                    std::wstring& value);
void ReadStrings(const std::wstring& path, std::vector<ProfileQuery>& queries);
bool WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                 const std::wstring& path, uint32_t& error);

// The same on the bytes of a file, without touching any file. WriteStringToBytes returns
// false (and the bytes unchanged) when the file already holds that value.
uint32_t ReadStringFromBytes(const std::string& bytes, const std::wstring& section,
                             const std::wstring& key, std::wstring& value);
void ReadStringsFromBytes(const std::string& bytes, std::vector<ProfileQuery>& queries);
bool WriteStringToBytes(const std::string& bytes, const std::wstring& section,
                        const std::wstring& key, const std::wstring& value, std::string& result);
}  // namespace portable_profile
