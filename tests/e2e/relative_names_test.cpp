// Relative INI file names as a user gives them to the program: taken from the current
// directory on POSIX, from the program's own directory on Windows.
#include <filesystem>
#include <random>
#include <string>

#include "tests/e2e/e2e_support.h"

namespace {

namespace fs = std::filesystem;

TEST_F(EndToEnd, RelativeIniNamesFollowTheRuleOfTheBuild) {
    const std::string name = "marvane-" + std::to_string(std::random_device{}()) + ".ini";
#ifdef _WIN32
    const std::string folder = fs::path(BuiltProgram(kSimProgram)).parent_path().string();
    const std::string elsewhere = dir.path();
#else
    const std::string folder = dir.path();
    const std::string elsewhere = fs::path(BuiltProgram(kSimProgram)).parent_path().string();
#endif
    const std::string file = (fs::path(folder) / name).string();
    ProcessResult result = Sim({"-g", name});
    EXPECT_EQ(result.exitStatus, 0) << result.out;
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists((fs::path(elsewhere) / name).string()));

    // The same name reaches the same file when applied; a missing one is reported with the
    // full path it was looked for at.
    result = Sim({"-i", name});
    EXPECT_EQ(result.exitStatus, 0) << result.out;
    EXPECT_EQ(result.out.find("Error"), std::string::npos) << result.out;
    result = Sim({"-i", "none-" + name});
    EXPECT_NE(result.out.find("Error: File [" + (fs::path(folder) / ("none-" + name)).string() +
                              "] does not exist.\n"),
              std::string::npos)
        << result.out;
    fs::remove(file);
}

}  // namespace
