// Without the Windows profile functions, INI files go through our own implementation.
#include "platform/PrivateProfile.h"

uint32_t ProfileReadString(const std::wstring& section, const std::wstring& key,
                           const std::wstring& path, std::wstring& value) {
    return portable_profile::ReadString(section, key, path, value);
}

void ProfileReadStrings(const std::wstring& path, std::vector<ProfileQuery>& queries) {
    portable_profile::ReadStrings(path, queries);
}

bool ProfileWriteString(const std::wstring& section, const std::wstring& key,
                        const std::wstring& value, const std::wstring& path, uint32_t& error) {
    return portable_profile::WriteString(section, key, value, path, error);
}
