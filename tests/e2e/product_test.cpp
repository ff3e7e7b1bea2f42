// The Windows program itself, on a machine without monitors (Wine): discovery runs through
// hid.dll and SetupAPI, finds nothing, and the modes that need no monitor still work.
#include "tests/e2e/e2e_support.h"

#ifdef _WIN32

namespace {

const std::string kNoMonitor = "Error: No single 7352 device is attached.\n";

ProcessResult Product(const std::vector<std::string>& arguments, const std::string& where) {
    return RunProcess(BuiltProgram("marvanecfgutil.exe"), arguments, where);
}

TEST_F(EndToEnd, ProductWithoutMonitorsSaysSoEndsWith1AndLogsDiscovery) {
    const std::string log = dir.file("run.log");
    for (const auto& mode : std::vector<std::vector<std::string>>{
             {"-l", log, "-L"}, {"-o", dir.file("x.ini")}, {"-i", dir.file("x.ini")}}) {
        const ProcessResult result = Product(mode, dir.path());
        EXPECT_EQ(result.exitStatus, 1) << mode.back();
        EXPECT_EQ(result.out, kNoMonitor) << mode.back();
        EXPECT_EQ(result.err, "") << mode.back();
    }
    EXPECT_FALSE(FileExists(dir.file("x.ini")));
    const std::string text = ReadFileBytes(log);
    EXPECT_NE(text.find("\tDebug\tZelHidDisplayList Constructed\r\n"), std::string::npos);
    EXPECT_NE(text.find("\tError\tZelHidDisplayList::getAllFirmwareLevels() dspcode=5\r\n"),
              std::string::npos);
}

// Another run holds the Global mutex for 1.5 s; once the program has it, discovery finds
// no monitor under Wine.
TEST_F(EndToEnd, ProductWaitsForAnotherRunBeforeLookingForMonitors) {
    const ProcessResult held = RunProcess(
        BuiltProgram(kLockHolder),
        {"mutex", "Global\\marvanecfgutil", "1500", BuiltProgram("marvanecfgutil.exe"), "-L"},
        dir.path());
    EXPECT_EQ(held.exitStatus, 1) << held.err;
    EXPECT_EQ(held.out, kNoMonitor);
    EXPECT_GE(HeldProgramMilliseconds(held.err), 1500) << held.err;
}

}  // namespace

#endif
