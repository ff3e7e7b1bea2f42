// The program runs elevated, so a hid.dll dropped beside it must not be loaded: the HID
// library comes from the system directory only.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "tests/support/CaptureStdout.h"
#include "tests/support/RunProcess.h"

namespace {

// Makes Wine prefer a hid.dll found beside a program over its own, as Windows does, for the
// programs this test starts; restored afterwards.
class PreferPlantedDlls {
public:
    PreferPlantedDlls() {
        wchar_t value[1024];
        const DWORD length = GetEnvironmentVariableW(L"WINEDLLOVERRIDES", value, 1024);
        if (length > 0 && length < 1024) {
            saved = value;
            hadValue = true;
        }
        const std::wstring overrides = hadValue ? saved + L";hid=n,b" : L"hid=n,b";
        SetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides.c_str());
    }
    ~PreferPlantedDlls() {
        SetEnvironmentVariableW(L"WINEDLLOVERRIDES", hadValue ? saved.c_str() : nullptr);
    }
    PreferPlantedDlls(const PreferPlantedDlls&) = delete;
    PreferPlantedDlls& operator=(const PreferPlantedDlls&) = delete;

private:
    std::wstring saved;
    bool hadValue = false;
};

TEST(PlantedHidDll, IsNotLoadedAndTheListStillRuns) {
    namespace fs = std::filesystem;
    TempDir dir;
    const fs::path built = BuiltProgram("");
    const fs::path planted = built.parent_path().parent_path() / "planted" / "hid.dll";
    ASSERT_TRUE(fs::exists(planted)) << planted.string();
    fs::copy_file(BuiltProgram("marvanecfgutil.exe"), dir.file("marvanecfgutil.exe"));
    fs::copy_file(planted, dir.file("hid.dll"));
    const std::string mark = dir.file("planted-hid-was-loaded");

    PreferPlantedDlls prefer;
    const ProcessResult result = RunProcess(dir.file("marvanecfgutil.exe"), {"-L"}, dir.path());
    EXPECT_FALSE(FileExists(mark)) << "the hid.dll beside the program was loaded";
    // No monitors under Wine: discovery through the system's hid.dll finds none.
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "Error: No single 7352 device is attached.\n");
    EXPECT_EQ(result.err, "");

    // The planted library does leave its mark when something loads it.
    const HMODULE module =
        LoadLibraryExW(dir.wfile("hid.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(module, nullptr);
    FreeLibrary(module);
    EXPECT_TRUE(FileExists(mark));
}

}  // namespace
