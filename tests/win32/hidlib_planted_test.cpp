// The real Windows program on a machine without monitors (Wine). It runs elevated, so a
// hid.dll dropped beside it must not be loaded: the HID library comes from the system
// directory only. It waits for another run holding the Global mutex, then discovery runs
// through hid.dll and SetupAPI and finds nothing.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/e2e/e2e_support.h"

namespace {

TEST(PlantedHidDll, IsNotLoadedAndTheListWaitsForTheLockAndRuns) {
    namespace fs = std::filesystem;
    TempDir dir;
    const fs::path built = BuiltProgram("");
    const fs::path planted = built.parent_path().parent_path() / "planted" / "hid.dll";
    ASSERT_TRUE(fs::exists(planted)) << planted.string();
    const std::string program = dir.file("marvanecfgutil.exe"), log = dir.file("run.log");
    fs::copy_file(BuiltProgram("marvanecfgutil.exe"), program);
    fs::copy_file(planted, dir.file("hid.dll"));

    // Wine, unlike Windows, prefers its own hid.dll unless told otherwise.
    const char* overrides = std::getenv("WINEDLLOVERRIDES");
    const std::string saved = overrides != nullptr ? overrides : "";
    SetEnvironmentVariableA("WINEDLLOVERRIDES",
                            (saved.empty() ? "" : saved + ";").append("hid=n,b").c_str());
    const ProcessResult held = RunProcess(
        BuiltProgram(kLockHolder),
        {"mutex", "Global\\marvanecfgutil", "1500", program, "-l", log, "-L"}, dir.path());
    SetEnvironmentVariableA("WINEDLLOVERRIDES", overrides != nullptr ? saved.c_str() : nullptr);
    EXPECT_FALSE(FileExists(dir.file("planted-hid-was-loaded"))) << "the planted hid.dll loaded";
    EXPECT_EQ(held.exitStatus, 1) << held.err;
    EXPECT_EQ(held.out, "Error: No single 7352 device is attached.\n");
    EXPECT_GE(HeldProgramMilliseconds(held.err), 1500) << held.err;
    EXPECT_NE(
        ReadFileBytes(log).find("\tError\tZelHidDisplayList::getAllFirmwareLevels() dspcode=5\r\n"),
        std::string::npos);
}

}  // namespace
