// Reading INI files into the settings (what each text reads as, what the user is told) and
// writing them (new files, existing files, paths, and writes that fail).
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "log/Log.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "settings/KemoHWData.h"
#include "settings/SettingsItems.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/ProfileCases.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;

const char* const kDefaultFile =
    "[General]\r\nVolume=20\r\nBrightness=1d\r\nRmtPwrCtrl=01\r\nExtBLEn=01\r\n"
    "[BeepOnTouch]\r\nBOTFreq=02\r\nBOTDur=02\r\nBOTVol=18\r\nBOTEvent=01\r\n"
    "[POSTone]\r\nTone1Vol=18\r\nTone2Vol=26\r\n"
    "[OpPannel]\r\nIconBright=1b\r\n"
    "[OSD]\r\nOSDEn=01\r\nOSDRPCEn=01\r\nOSDEBLEn=00\r\nOSDIBCEn=01\r\nOSDVCEn=01\r\nOSDBCEn="
    "01\r\n";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string UniqueName(const char* prefix) {
    static std::mt19937 random{std::random_device{}()};
    return prefix + std::to_string(random()) + ".ini";
}

std::string Sep() {
    return Narrow(std::wstring(1, kPathSeparator));
}

// A file next to the test program, removed at the end.
struct ExeDirFile {
    explicit ExeDirFile(const char* prefix) : name(UniqueName(prefix)) {
        path = Narrow(ExecutableDirectory()) + Sep() + name;
    }
    ~ExeDirFile() {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
    std::string name;
    std::string path;
};

// Each test starts a fresh run with the log going to a file of its own.
class SettingsIniTest : public ::testing::Test {
protected:
    void SetUp() override {
        CloseLogHandler();
        VerboseFlag() = 0;
        GetLogSettings().fileName = dir.file("run.log");
        GetLogSettings().level = LogError;
    }
    void TearDown() override {
        CloseLogHandler();
        GetLogSettings() = CLogSettings{};
    }
    std::string LogText() {
        CloseLogHandler();
        return ReadFileBytes(dir.file("run.log"));
    }
    bool Read(const std::string& text) {
        WriteFileBytes(dir.file("in.ini"), text);
        CaptureOutput capture;
        const bool read = data.ReadINIFile(dir.wfile("in.ini"));
        output = capture.out();
        return read;
    }
    bool Create(const std::wstring& path, bool useCurrent) {
        CaptureOutput capture;
        const bool created = data.CreateINIFile(path, useCurrent);
        output = capture.out();
        return created;
    }

    TempDir dir;
    KemoHWData data;
    std::string output;
};

TEST_F(SettingsIniTest, ValueTextsAndWhatTheyReadAs) {
    const struct {
        const char* text;
        uint8_t value;
    } cases[] = {
        {"Volume=05", 0x05},
        {"Volume=1d", 0x1D},
        {"Volume=1D", 0x1D},
        {"Volume=1b", 0x1B},
        {"Volume=1B", 0x1B},
        {"Volume=00", 0x00},
        {"Volume=ff", 0xFF},
        {"Volume= 1d ", 0x1D},
        {"Volume\t=\t07\t", 0x07},
        {"VOLUME=07", 0x07},
        {"volume=07", 0x07},
        // Anything but exactly two hex digits is the invalid marker.
        {"Volume=5", 0xFF},
        {"Volume=001", 0xFF},
        {"Volume=0x", 0xFF},
        {"Volume=0x1d", 0xFF},
        {"Volume=+1", 0xFF},
        {"Volume=-1", 0xFF},
        {"Volume=-2", 0xFF},
        {"Volume=1z", 0xFF},
        {"Volume=zz", 0xFF},
        {"Volume=1 ", 0xFF},
        {"Volume=1 d", 0xFF},
        {"Volume= ", 0xFF},
        {"Volume=", 0xFF},
        {"Volume", 0xFF},
        {"Volume=g0", 0xFF},
        {"Volume=12.", 0xFF},
        {"Other=05", 0xFF},
    };
    for (const auto& c : cases) {
        for (const char* lineEnd : {"\r\n", "\n"}) {
            WriteFileBytes(dir.file("v.ini"),
                           std::string("[General]") + lineEnd + c.text + lineEnd);
            EXPECT_EQ(KemoHWData::ReadINIValue(L"General", L"Volume", dir.wfile("v.ini")), c.value)
                << c.text;
        }
    }
}

TEST_F(SettingsIniTest, MissingFileGivesTheMarker) {
    EXPECT_EQ(KemoHWData::ReadINIValue(L"OpPannel", L"IconBright", dir.wfile("missing.ini")), 0xFF);
}

TEST_F(SettingsIniTest, DefaultFileReadsBackToTheDefaults) {
    EXPECT_TRUE(Read(kDefaultFile));
    EXPECT_EQ(output, "");
    for (const SettingsItem& item : kSettingsItems) {
        EXPECT_EQ(data.CfgImage()[item.imageOffset], item.def);
    }
    EXPECT_EQ(data.GetINIFilePath(), dir.wfile("in.ini"));
}

TEST_F(SettingsIniTest, WhatTheUserIsToldAboutBadFiles) {
    const char* const invalid = "Check the [min-max] values allowed.\n";
    const struct {
        const char* name;
        std::string text;
        bool read;
        std::string output;
    } cases[] = {
        {"two digits", Replace(kDefaultFile, "Volume=20", "Volume=05"), true, ""},
        {"one digit", Replace(kDefaultFile, "Volume=20", "Volume=5"), false,
         std::string("Error: Invalid value entry for item \"Volume\".\n") + invalid},
        {"plus sign", Replace(kDefaultFile, "BOTDur=02", "BOTDur=+1"), false,
         std::string("Error: Invalid value entry for item \"BOTDur\".\n") + invalid},
        {"minus sign", Replace(kDefaultFile, "BOTVol=18", "BOTVol=-1"), false,
         std::string("Error: Invalid value entry for item \"BOTVol\".\n") + invalid},
        {"trailing letter", Replace(kDefaultFile, "OSDEn=01", "OSDEn=1z"), false,
         std::string("Error: Invalid value entry for item \"OSDEn\".\n") + invalid},
        {"misspelt section", Replace(kDefaultFile, "[OpPannel]", "[OpPanel]"), false,
         std::string("Error: Invalid value entry for item \"IconBright\".\n") + invalid},
        {"missing key", Replace(kDefaultFile, "OSDBCEn=01\r\n", ""), false,
         std::string("Error: Invalid value entry for item \"OSDBCEn\".\n") + invalid},
        {"too low", Replace(kDefaultFile, "BOTFreq=02", "BOTFreq=00"), false,
         "Error: Item \"BOTFreq\" is too low 0 (0x00). Check the configuration file used.\n"
         "- Min: 1 (0x01)\n- Max: 3 (0x03)\n- Default: 2 (0x02)\n"
         "Check the configuration file used."},
        {"too high", Replace(kDefaultFile, "Brightness=1d", "Brightness=21"), false,
         "Error: Item \"Brightness\" is too high 33 (0x21). Check the configuration file used.\n"
         "- Min: 0 (0x00)\n- Max: 32 (0x20)\n- Default: 29 (0x1d)\n"},
        {"first of two bad items",
         Replace(Replace(kDefaultFile, "OSDVCEn=01", "OSDVCEn=02"), "Tone1Vol=18", "Tone1Vol=x"),
         false, std::string("Error: Invalid value entry for item \"Tone1Vol\".\n") + invalid},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Read(c.text), c.read) << c.name;
        EXPECT_EQ(output, c.output) << c.name;
    }
    // All 17 values stay in the image, the bad ones included.
    EXPECT_EQ(data.CfgImage()[0x34], 0x02);
    EXPECT_EQ(data.CfgImage()[0x10], 0xFF);
    EXPECT_EQ(data.CfgImage()[0x35], 0x01);
}

TEST_F(SettingsIniTest, MissingFileIsReportedWithItsPathAndChangesNothing) {
    ASSERT_TRUE(Read(kDefaultFile));
    const auto image = data.CfgImage();
    const std::wstring path = dir.wfile("absent.ini");
    {
        CaptureOutput capture;
        EXPECT_FALSE(data.SetCfgBytes(path));
        EXPECT_EQ(capture.out(), "Error: File [" + Narrow(path) + "] does not exist.\n");
    }
    EXPECT_EQ(data.CfgImage(), image);
    EXPECT_EQ(data.GetINIFilePath(), path);
    const std::string log = LogText();
    EXPECT_NE(log.find("\tKemoHWData::ReadINIFile() - doesFileExist error=0x"), std::string::npos)
        << log;
    EXPECT_NE(log.find("\tKemoHWData::SetCfgBytes() - error reading INI file\r\n"),
              std::string::npos)
        << log;
}

TEST_F(SettingsIniTest, EmptyPathFailsSilently) {
    CaptureOutput capture;
    EXPECT_FALSE(data.ReadINIFile(L""));
    EXPECT_FALSE(data.CreateINIFile(L"", false));
    EXPECT_EQ(capture.out(), "");
    EXPECT_EQ(data.GetINIFilePath(), L"");
}

TEST_F(SettingsIniTest, RelativeNamesAreFoundNextToTheExecutable) {
    ExeDirFile file("marvane-read-");
    const std::wstring resolved = Widen(file.path);
    {
        CaptureOutput capture;
        EXPECT_FALSE(data.ReadINIFile(Widen(file.name)));
        EXPECT_EQ(capture.out(), "Error: File [" + file.path + "] does not exist.\n");
    }
    WriteFileBytes(file.path, kDefaultFile);
    // The current directory plays no part.
    const fs::path cwd = fs::current_path();
    fs::current_path(dir.path());
    WriteFileBytes(dir.file(file.name), Replace(kDefaultFile, "Volume=20", "Volume=zz"));
    CaptureOutput capture;
    const bool read = data.ReadINIFile(Widen(file.name));
    fs::current_path(cwd);
    EXPECT_TRUE(read);
    EXPECT_EQ(capture.out(), "");
    EXPECT_EQ(data.GetINIFilePath(), resolved);
}

// ---- Writing ------------------------------------------------------------------------------

TEST_F(SettingsIniTest, NewDefaultFileLineByLine) {
    const std::wstring path = dir.wfile("new.ini");
    EXPECT_TRUE(Create(path, false));
    EXPECT_EQ(output, "");
    EXPECT_EQ(ReadFileBytes(dir.file("new.ini")), kDefaultFile);
    EXPECT_EQ(data.GetINIFilePath(), path);
    // And it reads back to the defaults.
    KemoHWData reader;
    CaptureOutput capture;
    EXPECT_TRUE(reader.SetCfgBytes(path));
    EXPECT_EQ(capture.out(), "");
    for (const SettingsItem& item : kSettingsItems) {
        EXPECT_EQ(reader.CfgImage()[item.imageOffset], item.def);
    }
}

TEST_F(SettingsIniTest, CurrentValuesAreWrittenAsTheyAreInLowerCase) {
    std::vector<uint8_t> answer(71, 0x00);
    for (const SettingsItem& item : kSettingsItems) {
        answer[7 + item.imageOffset] = item.def;
    }
    answer[7 + 0x38] = 0x1B;  // Brightness
    answer[7 + 0x00] = 0xFF;  // BOTFreq: whatever the monitor reports, unchecked
    answer[7 + 0x31] = 0xAC;  // OSDRPCEn, out of range
    data.StoreRawCfg(answer.data(), static_cast<uint32_t>(answer.size()));
    ASSERT_TRUE(data.LoadCurrentCfg());
    EXPECT_TRUE(Create(dir.wfile("cur.ini"), true));
    EXPECT_EQ(output, "");
    std::string expected = Replace(kDefaultFile, "Brightness=1d", "Brightness=1b");
    expected = Replace(expected, "BOTFreq=02", "BOTFreq=ff");
    expected = Replace(expected, "OSDRPCEn=01", "OSDRPCEn=ac");
    EXPECT_EQ(ReadFileBytes(dir.file("cur.ini")), expected);
}

TEST_F(SettingsIniTest, NoCurrentConfigurationNoFile) {
    EXPECT_FALSE(Create(dir.wfile("none.ini"), true));
    EXPECT_EQ(output, "");
    EXPECT_FALSE(FileExists(dir.file("none.ini")));

    // A good answer followed by a short one: the image is not the device's current one.
    const std::vector<uint8_t> good(71, 0x01);
    data.StoreRawCfg(good.data(), static_cast<uint32_t>(good.size()));
    ASSERT_TRUE(data.LoadCurrentCfg());
    const std::vector<uint8_t> shortAnswer(40, 0x01);
    data.StoreRawCfg(shortAnswer.data(), static_cast<uint32_t>(shortAnswer.size()));
    EXPECT_FALSE(data.LoadCurrentCfg());
    EXPECT_FALSE(Create(dir.wfile("none.ini"), true));
    EXPECT_EQ(output, "");
    EXPECT_FALSE(FileExists(dir.file("none.ini")));
}

TEST_F(SettingsIniTest, WritingOverAFileKeepsEverythingElse) {
    const std::string before =
        "; written by hand\r\n"
        "[Site]\r\nName=till 4\r\n"
        "[General]\r\nVolume=05\r\nLocal=yes\r\nBrightness=00\r\n"
        "[OSD]\r\n;locked by IT\r\nOSDEn=00\r\n"
        "[Tail]\r\nX=1\r\n";
    WriteFileBytes(dir.file("old.ini"), before);
    EXPECT_TRUE(Create(dir.wfile("old.ini"), false));
    const std::string after = ReadFileBytes(dir.file("old.ini"));
    // Every line of the old file is still there, in the same order; the two known values
    // are replaced, the missing items added.
    const std::vector<std::string> kept = {"; written by hand\r\n",
                                           "[Site]\r\nName=till 4\r\n",
                                           "[General]\r\nVolume=20\r\n",
                                           "Local=yes\r\nBrightness=1d\r\n",
                                           "[OSD]\r\n;locked by IT\r\nOSDEn=01\r\n",
                                           "[Tail]\r\nX=1\r\n"};
    size_t at = 0;
    for (const std::string& part : kept) {
        const size_t found = after.find(part, at);
        ASSERT_NE(found, std::string::npos) << part << "\n" << after;
        at = found + part.size();
    }
    KemoHWData reader;
    CaptureOutput capture;
    EXPECT_TRUE(reader.ReadINIFile(dir.wfile("old.ini")));
    for (const SettingsItem& item : kSettingsItems) {
        EXPECT_EQ(reader.CfgImage()[item.imageOffset], item.def);
    }
}

TEST_F(SettingsIniTest, ReadOnlyFileIsReportedAndLeftUntouched) {
    const std::string before = "[General]\r\nVolume=05\r\n";
    const std::string path = dir.file("ro.ini");
    WriteFileBytes(path, before);
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    if (profile_cases::ReadOnlyIgnoredBySystem(path)) {
        GTEST_SKIP() << "read-only files are writable here";
    }
    EXPECT_FALSE(Create(Widen(path), false));
    EXPECT_EQ(output, "Error: Writing INI file [" + path + "] failed.\n");
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_NE(LogText().find("\tKemoHWData::CreateINIFile() - WritePrivateProfileString error=0x"),
              std::string::npos);
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
}

#ifdef _WIN32
TEST_F(SettingsIniTest, LockedFileIsReportedAndLeftUntouched) {
    const std::string before = "[General]\r\nVolume=05\r\n";
    const std::string path = dir.file("locked.ini");
    WriteFileBytes(path, before);
    // Open without sharing, as an editor holding the file would.
    HANDLE lock = CreateFileW(Widen(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    const bool created = Create(Widen(path), false);
    CloseHandle(lock);
    EXPECT_FALSE(created);
    EXPECT_EQ(output, "Error: Writing INI file [" + path + "] failed.\n");
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_NE(LogText().find("\tKemoHWData::CreateINIFile() - WritePrivateProfileString "
                             "error=0x00000020\r\n"),
              std::string::npos);
}
#endif

TEST_F(SettingsIniTest, MissingDirectoryIsReportedAndNothingIsCreated) {
    const std::string missing = dir.file("no-such-dir");
    const std::wstring path = Widen(missing + Sep() + "x.ini");
    EXPECT_FALSE(Create(path, false));
    EXPECT_EQ(output, "Error: Directory [" + missing + Sep() + "] does not exist.\n");
    EXPECT_FALSE(FileExists(missing));
    EXPECT_NE(LogText().find("\tKemoHWData::CreateINIFile() - doesPathExist error=0x"),
              std::string::npos);

    // A file where the directory should be.
    WriteFileBytes(dir.file("plain"), "x");
    EXPECT_FALSE(Create(Widen(dir.file("plain") + Sep() + "x.ini"), false));
    EXPECT_EQ(output, "Error: Directory [" + dir.file("plain") + Sep() + "] does not exist.\n");
    EXPECT_EQ(ReadFileBytes(dir.file("plain")), "x");
}

TEST_F(SettingsIniTest, RelativeNamesAreWrittenNextToTheExecutable) {
    ExeDirFile file("marvane-write-");
    const fs::path cwd = fs::current_path();
    fs::current_path(dir.path());
    const bool created = Create(Widen(file.name), false);
    fs::current_path(cwd);
    EXPECT_TRUE(created);
    EXPECT_EQ(output, "");
    EXPECT_EQ(ReadFileBytes(file.path), kDefaultFile);
    EXPECT_FALSE(FileExists(dir.file(file.name)));
    EXPECT_EQ(data.GetINIFilePath(), Widen(file.path));
}

TEST_F(SettingsIniTest, RelativeNameIntoMissingSubdirectoryFails) {
    const std::string sub = UniqueName("marvane-nodir-");
    const std::string name = sub + Sep() + "x.ini";
    const std::string resolved = Narrow(ExecutableDirectory()) + Sep() + name;
    EXPECT_FALSE(Create(Widen(name), false));
    EXPECT_EQ(output, "Error: Writing INI file [" + resolved + "] failed.\n");
    EXPECT_FALSE(FileExists(Narrow(ExecutableDirectory()) + Sep() + sub));
}

}  // namespace
