// The Windows program itself, on a machine without monitors (Wine): discovery runs through
// hid.dll and SetupAPI, finds nothing, and the modes that need no monitor still work.
#include "tests/e2e/e2e_support.h"

#ifdef _WIN32

namespace {

ProcessResult Product(const std::vector<std::string>& arguments, const std::string& where) {
    return RunProcess(BuiltProgram("marvanecfgutil.exe"), arguments, where);
}

TEST_F(EndToEnd, ProductWithoutMonitorsSaysSoAndEndsWith1) {
    for (const auto& mode : std::vector<std::vector<std::string>>{
             {"-L"}, {"-o", dir.file("x.ini")}, {"-i", dir.file("x.ini")}}) {
        const ProcessResult result = Product(mode, dir.path());
        EXPECT_EQ(result.exitStatus, 1) << mode.front();
        EXPECT_EQ(result.out, "Error: No single 7352 device is attached.\n") << mode.front();
        EXPECT_EQ(result.err, "") << mode.front();
    }
    EXPECT_FALSE(FileExists(dir.file("x.ini")));
}

TEST_F(EndToEnd, ProductWritesTheSameDefaultsFileAsTheSimulator) {
    const std::string productIni = dir.file("product.ini");
    const std::string simIni = dir.file("sim.ini");
    const ProcessResult product = Product({"-g", productIni}, dir.path());
    const ProcessResult simulator = Sim({"-g", simIni});
    EXPECT_EQ(product.exitStatus, 0);
    EXPECT_EQ(simulator.exitStatus, 0);
    EXPECT_EQ(product.out, "Generating default HW configuration to \"" + productIni +
                               "\" file.\nCheck the generated \"" + productIni + "\" file.\n");
    ASSERT_TRUE(FileExists(productIni));
    EXPECT_EQ(Lines(ReadFileBytes(productIni)), Lines(ReadFileBytes(simIni)));
}

TEST_F(EndToEnd, ProductLogsDiscoveryToTheLogFileOnly) {
    const std::string log = dir.file("run.log");
    const ProcessResult result = Product({"-l", log, "-L"}, dir.path());
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "Error: No single 7352 device is attached.\n");
    const std::string text = ReadFileBytes(log);
    EXPECT_NE(text.find("\tDebug\tZelHidDisplayList Constructed\r\n"), std::string::npos);
    EXPECT_NE(text.find("\tError\tZelHidDisplayList::getAllFirmwareLevels() dspcode=5\r\n"),
              std::string::npos);
}

}  // namespace

#endif
