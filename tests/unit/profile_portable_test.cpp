// Our own private-profile implementation: what it reads, the bytes it writes, and the files
// it must not touch.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/PrivateProfile.h"
#include "platform/Text.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/ProfileCases.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using profile_cases::ReadCases;
using profile_cases::WriteCases;

size_t FileCount(const std::string& dir) {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) {
        ++count;
    }
    return count;
}

TEST(PortableProfileTest, ReadTable) {
    TempDir dir;
    for (const auto& c : ReadCases()) {
        std::wstring value = L"junk";
        EXPECT_EQ(portable_profile::ReadStringFromBytes(c.file, c.section, c.key, value),
                  c.expected.size())
            << c.name;
        EXPECT_EQ(value, c.expected) << c.name;

        WriteFileBytes(dir.file("r.ini"), c.file);
        value = L"junk";
        EXPECT_EQ(portable_profile::ReadString(c.section, c.key, dir.wfile("r.ini"), value),
                  c.expected.size())
            << c.name;
        EXPECT_EQ(value, c.expected) << c.name;
    }
}

TEST(PortableProfileTest, MissingFileOrDirectoryReadsEmpty) {
    TempDir dir;
    std::wstring value = L"junk";
    EXPECT_EQ(portable_profile::ReadString(L"General", L"Volume", dir.wfile("none.ini"), value),
              0u);
    EXPECT_EQ(value, L"");
    EXPECT_EQ(portable_profile::ReadString(L"General", L"Volume", dir.wpath(), value), 0u);
    EXPECT_EQ(
        portable_profile::ReadString(L"General", L"Volume", dir.wfile("none") + L"/x.ini", value),
        0u);
}

TEST(PortableProfileTest, WriteTable) {
    for (const auto& c : WriteCases()) {
        TempDir dir;
        const std::string path = dir.file("w.ini");
        if (c.exists) {
            WriteFileBytes(path, c.file);
        }
        uint32_t error = 77;
        EXPECT_TRUE(portable_profile::WriteString(c.section, c.key, c.value, Widen(path), error))
            << c.name;
        EXPECT_EQ(error, 0u) << c.name;
        EXPECT_EQ(ReadFileBytes(path), c.expected) << c.name;
        EXPECT_EQ(FileCount(dir.path()), 1u) << c.name << ": a temporary file was left";

        std::wstring value;
        portable_profile::ReadString(c.section, c.key, Widen(path), value);
        EXPECT_EQ(value, c.value) << c.name;

        std::string bytes;
        EXPECT_EQ(portable_profile::WriteStringToBytes(c.file, c.section, c.key, c.value, bytes),
                  c.expected != c.file)
            << c.name;
        EXPECT_EQ(bytes, c.expected) << c.name;
    }
}

TEST(PortableProfileTest, ValueIsStoredWithoutLeadingBlanksAndNamesTrimmed) {
    std::string bytes;
    ASSERT_TRUE(
        portable_profile::WriteStringToBytes("", L" General ", L"\tVolume ", L"  20", bytes));
    EXPECT_EQ(bytes, "[General]\r\nVolume=20\r\n");
}

TEST(PortableProfileTest, LineEndInsideANameOrValueIsRefused) {
    TempDir dir;
    const std::string path = dir.file("x.ini");
    WriteFileBytes(path, "[General]\r\nVolume=05\r\n");
    const struct {
        std::wstring section, key, value;
    } cases[] = {{L"General", L"Volume", L"20\r\n[Evil]"},
                 {L"General\n", L"Volume", L"20"},
                 {L"General", L"Vol\rume", L"20"}};
    for (const auto& c : cases) {
        uint32_t error = 0;
        EXPECT_FALSE(portable_profile::WriteString(c.section, c.key, c.value, Widen(path), error));
        EXPECT_NE(error, 0u);
    }
    EXPECT_EQ(ReadFileBytes(path), "[General]\r\nVolume=05\r\n");
}

TEST(PortableProfileTest, ReadOnlyFileIsLeftUntouched) {
    TempDir dir;
    const std::string path = dir.file("ro.ini");
    WriteFileBytes(path, "[General]\r\nVolume=05\r\n");
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    if (profile_cases::ReadOnlyIgnoredBySystem(path)) {
        GTEST_SKIP() << "read-only files are writable here";
    }
    for (const wchar_t* value : {L"20", L"05"}) {  // a change, and the value it already has
        uint32_t error = 0;
        EXPECT_FALSE(
            portable_profile::WriteString(L"General", L"Volume", value, Widen(path), error));
        EXPECT_NE(error, 0u);
    }
    EXPECT_EQ(ReadFileBytes(path), "[General]\r\nVolume=05\r\n");
    EXPECT_EQ(FileCount(dir.path()), 1u);
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
}

TEST(PortableProfileTest, MissingDirectoryCreatesNothing) {
    TempDir dir;
    const std::wstring path =
        dir.wfile("none") + std::wstring(1, fs::path::preferred_separator) + L"x.ini";
    uint32_t error = 0;
    EXPECT_FALSE(portable_profile::WriteString(L"General", L"Volume", L"20", path, error));
    EXPECT_NE(error, 0u);
    EXPECT_EQ(FileCount(dir.path()), 0u);
}

#ifndef _WIN32

TEST(PortableProfileTest, ReplacingKeepsPermissionsAndSymbolicLinks) {
    TempDir dir;
    const std::string path = dir.file("p.ini");
    WriteFileBytes(path, "[General]\r\nVolume=05\r\n");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    const std::string link = dir.file("link.ini");
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);

    uint32_t error = 0;
    ASSERT_TRUE(portable_profile::WriteString(L"General", L"Volume", L"20", Widen(link), error));
    struct stat info {};
    ASSERT_EQ(lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadFileBytes(path), "[General]\r\nVolume=20\r\n");
    EXPECT_EQ(FileCount(dir.path()), 2u);
}

TEST(PortableProfileTest, NewFileFollowsTheUmask) {
    TempDir dir;
    const mode_t old = umask(027);
    uint32_t error = 0;
    const bool written =
        portable_profile::WriteString(L"General", L"Volume", L"20", dir.wfile("n.ini"), error);
    umask(old);
    ASSERT_TRUE(written);
    struct stat info {};
    ASSERT_EQ(stat(dir.file("n.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(PortableProfileTest, NonRegularFilesAreNeitherReadNorReplaced) {
    TempDir dir;
    const std::string fifo = dir.file("fifo.ini");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    std::wstring value;
    EXPECT_EQ(portable_profile::ReadString(L"General", L"Volume", Widen(fifo), value), 0u);
    uint32_t error = 0;
    EXPECT_FALSE(portable_profile::WriteString(L"General", L"Volume", L"20", Widen(fifo), error));
    struct stat info {};
    ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

#endif

}  // namespace
