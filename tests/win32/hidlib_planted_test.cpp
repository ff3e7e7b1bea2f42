// The program runs elevated, so a hid.dll dropped beside it must not be loaded: the HID
// library comes from the system directory only.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/ConsoleAndFiles.h"
#include "tests/support/RunProcess.h"

namespace {

TEST(PlantedHidDll, IsNotLoadedAndTheListStillRuns) {
    namespace fs = std::filesystem;
    TempDir dir;
    const fs::path built = BuiltProgram("");
    const fs::path planted = built.parent_path().parent_path() / "planted" / "hid.dll";
    ASSERT_TRUE(fs::exists(planted)) << planted.string();
    fs::copy_file(BuiltProgram("marvanecfgutil.exe"), dir.file("marvanecfgutil.exe"));
    fs::copy_file(planted, dir.file("hid.dll"));
    const std::string mark = dir.file("planted-hid-was-loaded");

    // Wine, unlike Windows, prefers its own hid.dll unless told otherwise.
    const char* overrides = std::getenv("WINEDLLOVERRIDES");
    const std::string saved = overrides != nullptr ? overrides : "";
    SetEnvironmentVariableA("WINEDLLOVERRIDES",
                            (saved.empty() ? "" : saved + ";").append("hid=n,b").c_str());
    const ProcessResult result = RunProcess(dir.file("marvanecfgutil.exe"), {"-L"}, dir.path());
    SetEnvironmentVariableA("WINEDLLOVERRIDES", overrides != nullptr ? saved.c_str() : nullptr);
    EXPECT_FALSE(FileExists(mark)) << "the hid.dll beside the program was loaded";
    // No monitors under Wine: discovery through the system's hid.dll finds none.
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "Error: No single 7352 device is attached.\n");
    EXPECT_EQ(result.err, "");
}

}  // namespace
