// The administrator check and the refusal that follows from it.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <string>

#include "app/Driver.h"
#include "app/Help.h"
#include "log/Log.h"
#include "platform/Administrator.h"
#include "tests/support/CaptureStdout.h"

namespace {

TEST(AdministratorTest, AnswersForTheRightsThisProcessHas) {
#ifdef _WIN32
    // The test programs run under Wine or from an elevated console, where the
    // Administrators group is in effect.
    EXPECT_TRUE(IsAdministrator());
#else
    EXPECT_EQ(IsAdministrator(), geteuid() == 0);
#endif
}

// Without the rights nothing is parsed: the message goes to standard error and the run
// ends with 1. With them, -? prints the whole help. Either way no device is touched.
TEST(AdministratorTest, EntryChecksRightsBeforeParsing) {
    CloseLogHandler();
    VerboseFlag() = 0;
    char program[] = "marvanecfgutil";
    char help[] = "-?";
    char* argv[] = {program, help, nullptr};

    std::string expectedOut;
    std::string expectedErr;
    if (IsAdministrator()) {
        CaptureOutput capture;
        PrintUsage();
        PrintExamples();
        PrintSettingsDefinition();
        expectedOut = capture.out();
    } else {
        expectedErr = "\nMust be run in command-line with Administrative rights.\n";
    }

    CaptureOutput capture;
    const int status = RunCfgUtil(2, argv);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(capture.out(), expectedOut);
    EXPECT_EQ(capture.err(), expectedErr);
}

}  // namespace
