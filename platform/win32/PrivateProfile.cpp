// The system's own private-profile functions.
#include "platform/PrivateProfile.h"

#include <windows.h>

namespace {
constexpr DWORD kValueBufferChars = 260;
}

uint32_t ProfileReadString(const std::wstring& section, const std::wstring& key,
                           const std::wstring& path, std::wstring& value) {
    wchar_t buffer[kValueBufferChars] = {};
    const DWORD count = GetPrivateProfileStringW(section.c_str(), key.c_str(), nullptr, buffer,
                                                 kValueBufferChars, path.c_str());
    value.assign(buffer, count);
    return count;
}

void ProfileReadStrings(const std::wstring& path, std::vector<ProfileQuery>& queries) {
    for (ProfileQuery& query : queries) {
        query.count = ProfileReadString(query.section, query.key, path, query.value);
    }
}

bool ProfileWriteString(const std::wstring& section, const std::wstring& key,
                        const std::wstring& value, const std::wstring& path, uint32_t& error) {
    error = 0;
    if (!WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), path.c_str())) {
        error = GetLastError();
        return false;
    }
    return true;
}
