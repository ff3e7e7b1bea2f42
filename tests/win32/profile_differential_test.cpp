// Our own private-profile code against the Windows functions: the same files, the same
// calls, and they must agree.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "platform/PrivateProfile.h"
#include "platform/Text.h"
#include "settings/SettingsItems.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/ProfileCases.h"

namespace {

namespace fs = std::filesystem;
using profile_cases::ComparedNames;
using profile_cases::ReadCases;
using profile_cases::WriteCases;

// The system caches profile files by name, so every file of a test gets a name of its own.
std::string Numbered(const char* stem, size_t n) {
    return stem + std::to_string(n) + ".ini";
}

TEST(ProfileDifferentialTest, ReadTableAgrees) {
    TempDir dir;
    size_t n = 0;
    for (const auto& c : ReadCases()) {
        const std::wstring path = dir.wfile(Numbered("r", n++));
        WriteFileBytes(Narrow(path), c.file);
        std::wstring system = L"junk";
        std::wstring ours = L"junk";
        const uint32_t systemCount = ProfileReadString(c.section, c.key, path, system);
        const uint32_t ourCount = portable_profile::ReadString(c.section, c.key, path, ours);
        EXPECT_EQ(ourCount, systemCount) << c.name;
        EXPECT_EQ(ours, system) << c.name;
        EXPECT_EQ(system, c.expected) << c.name;
    }
    std::wstring system = L"junk";
    std::wstring ours = L"junk";
    const std::wstring missing = dir.wfile("missing.ini");
    EXPECT_EQ(ProfileReadString(L"General", L"Volume", missing, system), 0u);
    EXPECT_EQ(portable_profile::ReadString(L"General", L"Volume", missing, ours), 0u);
    EXPECT_EQ(system, L"");
    EXPECT_EQ(ours, L"");
}

TEST(ProfileDifferentialTest, WriteTableAgrees) {
    TempDir dir;
    size_t n = 0;
    for (const auto& c : WriteCases()) {
        const std::string systemPath = dir.file(Numbered("ws", n));
        const std::string ourPath = dir.file(Numbered("wo", n));
        ++n;
        if (c.exists) {
            WriteFileBytes(systemPath, c.file);
            WriteFileBytes(ourPath, c.file);
        }
        uint32_t systemError = 0;
        uint32_t ourError = 0;
        EXPECT_TRUE(ProfileWriteString(c.section, c.key, c.value, Widen(systemPath), systemError))
            << c.name;
        EXPECT_TRUE(
            portable_profile::WriteString(c.section, c.key, c.value, Widen(ourPath), ourError))
            << c.name;
        const std::string systemBytes = ReadFileBytes(systemPath);
        const std::string ourBytes = ReadFileBytes(ourPath);
        EXPECT_EQ(ourBytes, c.expected) << c.name;
        if (c.canonical) {
            EXPECT_EQ(ourBytes, systemBytes) << c.name;
        }
        // Whatever the layout, both files must hold the same values.
        auto names = ComparedNames();
        names.push_back({c.section, c.key});
        for (const auto& name : names) {
            std::wstring fromSystem;
            std::wstring fromOurs;
            ProfileReadString(name.section, name.key, Widen(systemPath), fromSystem);
            ProfileReadString(name.section, name.key, Widen(ourPath), fromOurs);
            EXPECT_EQ(fromOurs, fromSystem) << c.name << ": " << Narrow(name.key);
        }
    }
}

// The settings writer's sequence: the 17 items, one write each, into a new file and into a
// file with other content.
TEST(ProfileDifferentialTest, SeventeenItemWritesAgree) {
    TempDir dir;
    const std::string starts[] = {"", "[General]\r\nVolume=05\r\nLocal=1\r\n[Site]\r\nName=x\r\n"};
    size_t n = 0;
    for (const std::string& start : starts) {
        const std::string systemPath = dir.file(Numbered("ss", n));
        const std::string ourPath = dir.file(Numbered("so", n));
        ++n;
        if (!start.empty()) {
            WriteFileBytes(systemPath, start);
            WriteFileBytes(ourPath, start);
        }
        for (const SettingsItem& item : kSettingsItems) {
            wchar_t text[3];
            swprintf(text, 3, L"%02x", item.def);
            uint32_t error = 0;
            ASSERT_TRUE(ProfileWriteString(item.section, item.key, text, Widen(systemPath), error));
            ASSERT_TRUE(
                portable_profile::WriteString(item.section, item.key, text, Widen(ourPath), error));
        }
        EXPECT_EQ(ReadFileBytes(ourPath), ReadFileBytes(systemPath)) << start;
    }
}

TEST(ProfileDifferentialTest, FailedWritesAgree) {
    TempDir dir;
    const std::string before = "[General]\r\nVolume=05\r\n";
    const std::string systemPath = dir.file("ro-s.ini");
    const std::string ourPath = dir.file("ro-o.ini");
    for (const std::string& path : {systemPath, ourPath}) {
        WriteFileBytes(path, before);
        fs::permissions(path,
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
    uint32_t systemError = 0;
    uint32_t ourError = 0;
    // Both succeed or both fail alike (root under Wine may write read-only files).
    const bool systemWrote =
        ProfileWriteString(L"General", L"Volume", L"20", Widen(systemPath), systemError);
    const bool ourWrote =
        portable_profile::WriteString(L"General", L"Volume", L"20", Widen(ourPath), ourError);
    EXPECT_EQ(ourWrote, systemWrote);
    EXPECT_EQ(ourError, systemError);
    EXPECT_EQ(ReadFileBytes(ourPath), ReadFileBytes(systemPath));
    if (!profile_cases::ReadOnlyIgnoredBySystem(systemPath)) {
        EXPECT_FALSE(systemWrote);
        EXPECT_EQ(ReadFileBytes(systemPath), before);
    }
    for (const std::string& path : {systemPath, ourPath}) {
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
    }

    // A file another program holds open without sharing.
    const std::string lockedPath = dir.file("locked.ini");
    WriteFileBytes(lockedPath, before);
    HANDLE lock = CreateFileW(Widen(lockedPath).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(ProfileWriteString(L"General", L"Volume", L"20", Widen(lockedPath), systemError));
    EXPECT_FALSE(
        portable_profile::WriteString(L"General", L"Volume", L"20", Widen(lockedPath), ourError));
    CloseHandle(lock);
    EXPECT_EQ(systemError, static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(ourError, systemError);
    EXPECT_EQ(ReadFileBytes(lockedPath), before);

    const std::wstring missing = dir.wfile("none") + L"\\x.ini";
    EXPECT_FALSE(ProfileWriteString(L"General", L"Volume", L"20", missing, systemError));
    EXPECT_FALSE(portable_profile::WriteString(L"General", L"Volume", L"20", missing, ourError));
    EXPECT_EQ(ourError, systemError);
    EXPECT_FALSE(FileExists(dir.file("none")));
}

}  // namespace
