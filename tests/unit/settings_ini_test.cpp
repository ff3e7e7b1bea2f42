// The settings: item ranges and range-check messages, the image from a device answer, INI
// files read into the image and the configuration write block, and INI files written.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "log/Log.h"
#include "platform/PrivateProfile.h"
#include "platform/Text.h"
#include "settings/KemoHWData.h"
#include "tests/support/ConsoleAndFiles.h"
#include "tests/support/ProfileCases.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;
using profile_cases::kDefaultFile;

// The ranges themselves are pinned against the guide and the manual page; the boundaries
// show in the block tests. Here the messages, and only the first bad item has one.
TEST(SettingsItemsTest, RangeCheckMessages) {
    const auto printed = [](uint8_t value) {
        CaptureOutput capture;
        EXPECT_FALSE(KemoHWData::CheckItemMinMax(value, L"BOTDur", 1, 10, 2));
        return capture.out();
    };
    // sic: the too-low message ends without a line end
    EXPECT_EQ(printed(0x00),
              "Error: Item \"BOTDur\" is too low 0 (0x00). Check the configuration file used.\n"
              "- Min: 1 (0x01)\n- Max: 10 (0x0a)\n- Default: 2 (0x02)\n"
              "Check the configuration file used.");
    EXPECT_EQ(printed(0x0B),
              "Error: Item \"BOTDur\" is too high 11 (0x0b). Check the configuration file used.\n"
              "- Min: 1 (0x01)\n- Max: 10 (0x0a)\n- Default: 2 (0x02)\n");
    KemoHWData data;  // an image of zeros: BOTFreq and BOTDur too low
    data.CfgImage()[0x00] = 0xFF;
    CaptureOutput capture;
    EXPECT_FALSE(data.CheckAllItems());
    EXPECT_EQ(capture.out(),
              "Error: Invalid value entry for item \"BOTFreq\".\n"
              "Check the [min-max] values allowed.\n");
}

class SettingsIniTest : public ::testing::Test {
protected:
    // Runs one settings call with what it prints going to output.
    template <typename Call>
    bool Printing(Call call) {
        CaptureOutput capture;
        const bool result = call();
        output = capture.out();
        return result;
    }
    bool Create(const std::wstring& path) {
        return Printing([&] { return data.CreateINIFile(path, false); });
    }

    TempDir dir;
    KemoHWData data;
    std::string output;
};

// The shared read table through the profile functions of the build (ours on POSIX, the
// system's on Windows), and through the settings with the other items from the default file.
TEST_F(SettingsIniTest, ReadTable) {
    const std::string tail = "\r\n" + kDefaultFile.substr(0, kDefaultFile.find("[OpPannel]")) +
                             kDefaultFile.substr(kDefaultFile.find("[OSD]"));
    size_t n = 0;
    for (const auto& c : profile_cases::ReadCases()) {
        const std::string path = dir.file("p" + std::to_string(n++) + ".ini");
        WriteFileBytes(path, c.file);
        std::wstring value = L"junk";
        EXPECT_EQ(ProfileReadString(L"OpPannel", L"IconBright", Widen(path), value), c.text.size())
            << c.name;
        EXPECT_EQ(value, c.text) << c.name;
        if (!c.completable) {
            continue;
        }
        const bool utf16 = c.file.rfind("\xFF\xFE", 0) == 0 || c.file.rfind("\xFE\xFF", 0) == 0;
        WriteFileBytes(
            path + "2",
            c.file + (utf16 ? profile_cases::Utf16(tail, c.file[0] == '\xFE').substr(2) : tail));
        EXPECT_EQ(Printing([&] { return data.ReadINIFile(Widen(path + "2")); }), c.value != 0xFF)
            << c.name;
        EXPECT_EQ(data.CfgImage()[0x20], c.value) << c.name;
        EXPECT_EQ(output, c.value != 0xFF ? ""
                                          : "Error: Invalid value entry for item \"IconBright\".\n"
                                            "Check the [min-max] values allowed.\n")
            << c.name;
    }
}

// Every byte of the block, from the default file and from one where every item differs,
// several at the ends of their ranges.
// Bytes the device reported that are not items must not reach the block.
TEST_F(SettingsIniTest, WriteBlockByteForByte) {
    const std::vector<uint8_t> answer(80, 0xAA);
    data.StoreRawCfg(answer.data(), 80);
    ASSERT_TRUE(data.LoadCurrentCfg());
    const struct {
        std::string file;
        const char* block;
    } cases[] = {
        {kDefaultFile,
         "333032433031393901ff00000100000000000000000000000000000002107352010100000000000000000000"
         "0000000004100000020218010000000000000000000000000310001018262000000000000000000000000000"
         "091000201b0101146400000101000000000000000b10003001010001010114001d01010000000000000000"},
        {"[General]\nVolume=28\nBrightness=00\nRmtPwrCtrl=00\nExtBLEn=00\n[BeepOnTouch]\n"
         "BOTFreq=01\nBOTDur=0A\nBOTVol=00\nBOTEvent=03\n[POSTone]\nTone1Vol=01\nTone2Vol=27\n"
         "[OpPannel]\nIconBright=20\n[OSD]\nOSDEn=00\nOSDRPCEn=00\nOSDEBLEn=01\nOSDIBCEn=00\n"
         "OSDVCEn=00\nOSDBCEn=00\n",
         "333032433031393901ff00000100000000000000000000000000000002107352010100000000000000000000"
         "0000000004100000010a00030000000000000000000000000310001001272800000000000000000000000000"
         "09100020200101146400000101000000000000000b10003000000100000014000000000000000000000000"}};
    for (const auto& c : cases) {
        WriteFileBytes(dir.file("block.ini"), c.file);
        ASSERT_TRUE(Printing([&] { return data.SetCfgBytes(dir.wfile("block.ini")); }));
        EXPECT_EQ(output, "");
        std::string hex;
        for (const uint8_t byte : data.CfgBlock()) {
            hex += {"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15]};
        }
        EXPECT_EQ(hex, c.block);
    }
}

// A new default file, and files edited by hand: every other line, and the mode, are kept,
// and the file reads back as the defaults.
TEST_F(SettingsIniTest, WriteTable) {
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    KemoHWData defaults;
    for (const SettingsItem& item : kSettingsItems) {
        defaults.CfgImage()[item.imageOffset] = item.def;
    }
    for (const auto& c : profile_cases::WriteCases()) {
        const std::string path = dir.file(std::string(c.name) + ".ini");
        if (!c.before.empty()) {
            WriteFileBytes(path, c.before);
            fs::permissions(path, mode);
        }
        EXPECT_TRUE(Create(Widen(path))) << c.name;
        EXPECT_EQ(output, "") << c.name;
#ifdef _WIN32
        using profile_cases::WithoutBlankLines;
        if (c.spelledAsWine) {
            EXPECT_EQ(WithoutBlankLines(ReadFileBytes(path)), WithoutBlankLines(c.after)) << c.name;
        }
#else
        EXPECT_EQ(ReadFileBytes(path), c.after) << c.name;
        EXPECT_TRUE(c.before.empty() || fs::status(path).permissions() == mode) << c.name;
#endif
        KemoHWData back;
        EXPECT_TRUE(Printing([&] { return back.ReadINIFile(Widen(path)); })) << c.name;
        EXPECT_EQ(back.CfgImage(), defaults.CfgImage()) << c.name;
    }
}

// Reported with the full path and the system's error code, and the file keeps its bytes.
// Relative names are taken from the current directory on POSIX (where files land is seen end
// to end). Root under Wine may write read-only files, so there the file is held open as an
// editor would.
TEST_F(SettingsIniTest, UnwritableFileIsReportedAndLeftUntouched) {
    const std::string before = "[General]\r\nVolume=05\r\n";
    const std::string path = dir.file("ro.ini");
    WriteFileBytes(path, before);
    CloseLogHandler();
    GetLogSettings() = {LogError, dir.file("run.log")};
#ifdef _WIN32
    HANDLE lock = CreateFileW(Widen(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_FALSE(Create(Widen(path)));
    CloseHandle(lock);
    const std::string shown = path;
#else
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const fs::path cwd = fs::current_path();
    fs::current_path(dir.path());
    EXPECT_FALSE(Create(L"ro.ini"));
    fs::current_path(cwd);
    const std::string shown = (fs::canonical(dir.path()) / "ro.ini").string();
#endif
    CloseLogHandler();
    GetLogSettings() = CLogSettings{};
    EXPECT_EQ(output, "Error: Writing INI file [" + shown + "] failed.\n");
    EXPECT_EQ(ReadFileBytes(path), before);
    const std::string log = ReadFileBytes(dir.file("run.log"));
    EXPECT_NE(log.find("\tKemoHWData::CreateINIFile() - WritePrivateProfileString error=0x"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("error=0x00000000"), std::string::npos) << log;
}

}  // namespace
