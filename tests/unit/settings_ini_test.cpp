// The settings: range-check messages, INI files read into the image and write block, written.
#include <gtest/gtest.h>

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

// The too-high message shows end to end; only the first bad item of a file has a message.
TEST(SettingsItemsTest, RangeCheckMessages) {
    KemoHWData data;  // an image of zeros: BOTFreq and BOTDur too low
    data.CfgImage()[0x00] = 0xFF;
    CaptureOutput capture;
    EXPECT_FALSE(data.CheckAllItems());
    EXPECT_FALSE(KemoHWData::CheckItemMinMax(0, L"BOTDur", 1, 10, 2));
    EXPECT_EQ(capture.out(),  // sic: no line end after the last line
              "Error: Invalid value entry for item \"BOTFreq\".\n"
              "Check the [min-max] values allowed.\n"
              "Error: Item \"BOTDur\" is too low 0 (0x00). Check the configuration file used.\n"
              "- Min: 1 (0x01)\n- Max: 10 (0x0a)\n- Default: 2 (0x02)\n"
              "Check the configuration file used.");
}

class SettingsIniTest : public ::testing::Test {
protected:
    template <typename Call>
    bool Printing(Call call) {
        CaptureOutput capture;
        const bool result = call();
        output = capture.out();
        return result;
    }

    TempDir dir;
    KemoHWData data;
    std::string output;
};

// The profile functions of the build (ours on POSIX, the system's on Windows) over the shared
// table; the settings take two hex digits and nothing else.
TEST_F(SettingsIniTest, ReadTable) {
    size_t n = 0;
    for (const auto& c : profile_cases::ReadCases()) {
        const std::string path = dir.file("p" + std::to_string(n++) + ".ini");
        WriteFileBytes(path, c.file);
        std::wstring value = L"junk";
        EXPECT_EQ(ProfileReadString(L"OpPannel", L"IconBright", Widen(path), value), c.text.size())
            << c.name;
        EXPECT_EQ(value, c.text) << c.name;
    }
    const std::pair<std::string, uint8_t> values[] = {
        {"1b", 0x1B}, {"1D", 0x1D}, {"'05'", 0x05}, {"5", 0xFF},  {"001", 0xFF}, {"0x", 0xFF},
        {"+1", 0xFF}, {"-1", 0xFF}, {"1z", 0xFF},   {"ff", 0xFF}, {"", 0xFF}};
    for (const auto& [text, value] : values) {
        std::string file = kDefaultFile;
        file.replace(file.find("IconBright=1b") + 11, 2, text);
        WriteFileBytes(dir.file("v.ini"), file);
        EXPECT_EQ(Printing([&] { return data.ReadINIFile(dir.wfile("v.ini")); }), value != 0xFF)
            << text;
        EXPECT_EQ(data.CfgImage()[0x20], value) << text;
        EXPECT_EQ(output, value != 0xFF ? ""
                                        : "Error: Invalid value entry for item \"IconBright\".\n"
                                          "Check the [min-max] values allowed.\n")
            << text;
    }
}

// Every byte of the block from a file where every item differs from the defaults, several at
// the ends of their ranges; reported bytes that are not items must not reach the block.
TEST_F(SettingsIniTest, WriteBlockByteForByte) {
    const std::vector<uint8_t> answer(80, 0xAA);
    data.StoreRawCfg(answer.data(), 80);
    ASSERT_TRUE(data.LoadCurrentCfg());
    WriteFileBytes(dir.file("block.ini"),
                   "[General]\nVolume=28\nBrightness=00\nRmtPwrCtrl=00\nExtBLEn=00\n[BeepOnTouch]\n"
                   "BOTFreq=01\nBOTDur=0A\nBOTVol=00\nBOTEvent=03\n[POSTone]\nTone1Vol=01\n"
                   "Tone2Vol=27\n[OpPannel]\nIconBright=20\n[OSD]\nOSDEn=00\nOSDRPCEn=00\n"
                   "OSDEBLEn=01\nOSDIBCEn=00\nOSDVCEn=00\nOSDBCEn=00\n");
    ASSERT_TRUE(Printing([&] { return data.SetCfgBytes(dir.wfile("block.ini")); })) << output;
    EXPECT_EQ(output, "");
    std::string hex;
    for (const uint8_t byte : data.CfgBlock()) {
        hex += {"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15]};
    }
    EXPECT_EQ(
        hex,
        "333032433031393901ff00000100000000000000000000000000000002107352010100000000000000000000"
        "0000000004100000010a00030000000000000000000000000310001001272800000000000000000000000000"
        "09100020200101146400000101000000000000000b10003000000100000014000000000000000000000000");
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
        EXPECT_TRUE(Printing([&] { return data.CreateINIFile(Widen(path), false); })) << c.name;
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

// Reported with the full path and the system's error code; the file keeps its bytes. Under
// Wine root may write read-only files, so the file is held open as an editor would.
TEST_F(SettingsIniTest, UnwritableFileIsReportedAndLeftUntouched) {
    const std::string before = "[General]\r\nVolume=05\r\n";
    const std::string path = dir.file("ro.ini");
    WriteFileBytes(path, before);
    CloseLogHandler();
    GetLogSettings() = {LogError, dir.file("run.log")};
#ifdef _WIN32
    HANDLE lock = CreateFileW(Widen(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_FALSE(Printing([&] { return data.CreateINIFile(Widen(path), false); }));
    CloseHandle(lock);
    const std::string shown = path;
#else
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const fs::path cwd = fs::current_path();
    fs::current_path(dir.path());
    EXPECT_FALSE(Printing([&] { return data.CreateINIFile(L"ro.ini", false); }));
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
