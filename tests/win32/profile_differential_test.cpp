// Our own private-profile code against the Windows functions: the same files, the same
// calls, and they must agree.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "platform/PrivateProfile.h"
#include "platform/Text.h"
#include "settings/SettingsItems.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/ProfileCases.h"

namespace {

TEST(ProfileDifferentialTest, ReadTableAgrees) {
    TempDir dir;
    size_t n = 0;
    for (const auto& c : profile_cases::ReadCases()) {
        // The system caches files by name: each case gets a name of its own.
        const std::wstring path = dir.wfile("r" + std::to_string(n++) + ".ini");
        WriteFileBytes(Narrow(path), c.file);
        std::wstring system = L"junk";
        std::wstring ours = L"junk";
        EXPECT_EQ(portable_profile::ReadString(L"OpPannel", L"IconBright", path, ours),
                  ProfileReadString(L"OpPannel", L"IconBright", path, system))
            << c.name;
        EXPECT_EQ(ours, system) << c.name;
        EXPECT_EQ(system, c.text) << c.name;
    }
}

TEST(ProfileDifferentialTest, WriteTableAgrees) {
    using profile_cases::WithoutBlankLines;
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
        EXPECT_EQ(ReadFileBytes(Narrow(ours)), c.after) << c.name;
        EXPECT_EQ(WithoutBlankLines(ReadFileBytes(Narrow(system))), WithoutBlankLines(c.after))
            << c.name;
    }
}

}  // namespace
