// The administrator check and the refusal that follows from it.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <string>

#include "app/Driver.h"
#include "app/Help.h"
#include "log/Log.h"
#include "platform/Administrator.h"
#include "tests/support/CaptureStdout.h"

namespace {

const char* const kRefusal = "\nMust be run in command-line with Administrative rights.\n";

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// RunCfgUtil with -?: refused without rights, the whole help with them; no device work
// either way.
Outcome RunHelp() {
    CloseLogHandler();
    VerboseFlag() = 0;
    char program[] = "marvanecfgutil";
    char help[] = "-?";
    char* argv[] = {program, help, nullptr};
    CaptureOutput capture;
    Outcome outcome;
    outcome.status = RunCfgUtil(2, argv);
    outcome.out = capture.out();
    outcome.err = capture.err();
    return outcome;
}

std::string FullHelp() {
    CaptureOutput capture;
    PrintUsage();
    PrintExamples();
    PrintSettingsDefinition();
    return capture.out();
}

TEST(AdministratorTest, EntryChecksRightsBeforeParsing) {
    const bool admin = IsAdministrator();
#ifdef _WIN32
    // The tests run under Wine or from an elevated console.
    EXPECT_TRUE(admin);
#else
    EXPECT_EQ(admin, geteuid() == 0);
#endif
    const Outcome outcome = RunHelp();
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, admin ? FullHelp() : "");
    EXPECT_EQ(outcome.err, admin ? "" : kRefusal);
}

#ifdef _WIN32
// A thread that impersonates is judged by its own token.
TEST(AdministratorTest, ImpersonatingThreadIsJudgedByItsToken) {
    ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
    const bool admin = IsAdministrator();
    ASSERT_TRUE(RevertToSelf());
    EXPECT_TRUE(admin);
}
#else
// Giving up root for a moment shows the refusal in-process.
TEST(AdministratorTest, NonRootIsRefusedBeforeParsing) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root can switch its effective user";
    }
    ASSERT_EQ(seteuid(65534), 0);
    const bool admin = IsAdministrator();
    const Outcome outcome = RunHelp();
    ASSERT_EQ(seteuid(0), 0);
    EXPECT_FALSE(admin);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, kRefusal);
}
#endif

}  // namespace
