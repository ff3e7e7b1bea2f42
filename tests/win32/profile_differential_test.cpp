// Our own private-profile code against the Windows functions: the same files, the same
// calls, and they must agree.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "platform/PrivateProfile.h"
#include "platform/Text.h"
#include "settings/SettingsItems.h"
#include "tests/support/ConsoleAndFiles.h"
#include "tests/support/ProfileCases.h"

namespace {

// Names asked of every read case besides the case's own: another spelling of it, and names
// the file does not hold.
const std::vector<std::pair<std::wstring, std::wstring>> kOtherNames = {
    {L" opPANNEL\t", L"\ticonbright "}, {L"General", L"Volume"}, {L"", L"IconBright"}};

TEST(ProfileDifferentialTest, ReadTableAgrees) {
    TempDir dir;
    size_t n = 0;
    for (const auto& c : profile_cases::ReadCases()) {
        // The system caches files by name: each case gets a name of its own.
        const std::wstring path = dir.wfile("r" + std::to_string(n++) + ".ini");
        WriteFileBytes(Narrow(path), c.file);
        // All names in one reading of the file, as the settings read them. What each build
        // reads alone is pinned by the settings tests of that build.
        std::vector<ProfileQuery> queries{{L"OpPannel", L"IconBright", L"junk", 7}};
        for (const auto& [section, key] : kOtherNames) {
            queries.push_back({section, key, L"junk", 7});
        }
        portable_profile::ReadStrings(path, queries);
        for (const ProfileQuery& query : queries) {
            std::wstring expected;
            EXPECT_EQ(query.count, ProfileReadString(query.section, query.key, path, expected))
                << c.name << " " << Narrow(query.key);
            EXPECT_EQ(query.value, expected) << c.name << " " << Narrow(query.key);
        }
    }
}

// What a file holds as the Windows functions read it: every section's name and lines.
std::vector<std::wstring> Holdings(const std::wstring& path) {
    std::vector<wchar_t> buffer(65536);
    const DWORD size = static_cast<DWORD>(buffer.size());
    std::vector<std::wstring> names;
    const DWORD length = GetPrivateProfileSectionNamesW(buffer.data(), size, path.c_str());
    for (size_t at = 0; at < length && buffer[at] != L'\0'; at += names.back().size() + 1) {
        names.emplace_back(buffer.data() + at);
    }
    std::vector<std::wstring> holdings;
    for (const std::wstring& name : names) {
        holdings.push_back(L"[" + name + L"]");
        const DWORD got =
            GetPrivateProfileSectionW(name.c_str(), buffer.data(), size, path.c_str());
        for (size_t at = 0; at < got && buffer[at] != L'\0'; at += holdings.back().size() + 1) {
            holdings.emplace_back(buffer.data() + at);
        }
    }
    return holdings;
}

TEST(ProfileDifferentialTest, WriteTableAgrees) {
    TempDir dir;
    size_t n = 0;
    for (const auto& c : profile_cases::WriteCases()) {
        const std::wstring system = dir.wfile("ws" + std::to_string(n) + ".ini");
        const std::wstring ours = dir.wfile("wo" + std::to_string(n++) + ".ini");
        if (!c.before.empty()) {
            WriteFileBytes(Narrow(system), c.before);
            WriteFileBytes(Narrow(ours), c.before);
        }
        for (const SettingsItem& item : kSettingsItems) {
            wchar_t text[3];
            swprintf(text, 3, L"%02x", item.def);
            uint32_t error = 0;
            ASSERT_TRUE(ProfileWriteString(item.section, item.key, text, system, error));
            ASSERT_TRUE(portable_profile::WriteString(item.section, item.key, text, ours, error));
        }
        // The bytes each build writes are pinned by its settings tests; here above all no
        // section of its own where the system found one already.
        const std::vector<std::wstring> holdings = Holdings(system);
        EXPECT_EQ(Holdings(ours), holdings) << c.name;
        EXPECT_GE(holdings.size(), kSettingsItems.size() + 5) << c.name;
    }
}

}  // namespace
