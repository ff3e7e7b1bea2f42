// The four modes of the simulator program against its simulated monitors, as a user runs
// them: exact console text, exit statuses, files, and the reports on the wire.

#include "tests/e2e/e2e_support.h"

namespace {

const std::string kListing =
    "Device: 0f66:302c  serial/id=41-A0001\n  Firmware Levels:\n   MCU=0105\n   HW_CFG=0002\n"
    "   SCALAR=0210\n   CAPSENSE=0107\n\n"
    "Device: 0f66:302c  serial/id=41-A0002\n  Firmware Levels:\n   MCU=0106\n   HW_CFG=0002\n"
    "   SCALAR=0211\n   CAPSENSE=0107\n\n";

// The listing exactly; -v adds the log lines on the console, -l puts them in the file only.
TEST_F(EndToEnd, ListShowsBothMonitorsExactlyWithTheLogWhereAsked) {
    ProcessResult result = Sim({"-L"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, kListing);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(QueriesOnly(Transcript()), 2u);  // each monitor's firmware levels, once

    result = Sim({"-L", "-v"});
    EXPECT_EQ(result.exitStatus, 0);
    for (const std::string& part :
         {"HidLib::initialise - hid library ready\n" + std::string(),
          "Showing HW Configuration of all monitors attached\n" + kListing}) {
        EXPECT_NE(result.out.find(part), std::string::npos) << part;
    }
    // Fixed texts go to the log file only, never to the console.
    EXPECT_EQ(result.out.find("Constructed"), std::string::npos);

    const std::string log = dir.file("run.log");
    result = Sim({"-l", log, "-L"});
    EXPECT_EQ(result.out, kListing);
    // Opened before discovery, closed after its last line.
    for (const char* line :
         {"\tInfo \t0f66:302c 0100 41-A0001\r\n", "\tDebug\tZelHidDisplayList Destroyed\r\n"}) {
        EXPECT_NE(ReadFileBytes(log).find(line), std::string::npos) << line;
    }
}

TEST_F(EndToEnd, SaveEditApplyAndSaveAgain) {
    const std::string first = dir.file("first.ini");
    ProcessResult result = Sim({"-o", first});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "Creating INI file from current configuration\nCheck the generated \"" +
                              first + "\" file.\n");
    EXPECT_EQ(Lines(ReadFileBytes(first)), Lines(IniWith("", "")));

    const std::string edited = dir.file("edited.ini");
    WriteFileBytes(edited, IniWith("Volume=20", "Volume=10"));
    result = Sim({"-i", edited});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, UpdateText(edited, "41-A0001") + UpdateText(edited, "41-A0002"));
    EXPECT_EQ(result.err, "");

    for (const char* serial : {"41-A0001", "41-A0002"}) {
        const std::string saved = dir.file(std::string(serial) + ".ini");
        EXPECT_EQ(Sim({"-s", serial, "-o", saved}).exitStatus, 0);
        EXPECT_EQ(Lines(ReadFileBytes(saved)), Lines(IniWith("Volume=20", "Volume=10"))) << serial;
    }
}

TEST_F(EndToEnd, SerialPicksTheMonitorAndAnUnknownOneIsAnError) {
    WriteFileBytes(StateFile(), "monitor 41-A0001\nconfig 12 05\nmonitor 41-A0002\nconfig 12 07\n");
    const std::string ini = dir.file("picked.ini");
    ProcessResult result = Sim({"-o", ini, "-s", "41-A0002"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_NE(ReadFileBytes(ini).find("Volume=07"), std::string::npos);

    // An unknown serial (case, prefixes and blanks are for the unit tests) touches nothing.
    for (const std::string mode : {"-o", "-i"}) {
        const std::string target = dir.file("unknown" + mode + ".ini");
        if (mode == "-i") {
            WriteFileBytes(target, IniWith("", ""));
        }
        result = Sim({"-s", "41-A0003", mode, target});
        EXPECT_EQ(result.exitStatus, 1) << mode;
        EXPECT_EQ(result.err, "Error: Unknown serial number. Please try again.\n");
        EXPECT_EQ(result.out, mode == "-o" ? "Creating INI file from current configuration\n" : "");
        EXPECT_EQ(FileExists(target), mode == "-i");
    }
    // Three runs, each asking both monitors for their firmware levels; one configuration query.
    EXPECT_EQ(QueriesOnly(Transcript()), 3u * 2u + 1u);
}

// The range messages are the settings tests' concern; here each monitor is tried and
// refuses the file before anything is sent.
TEST_F(EndToEnd, BadSettingsFilesReachNoMonitor) {
    const std::string& message = kTooHigh;
    const std::string ini = dir.file("bad.ini");
    WriteFileBytes(ini, IniWith("Volume=20", "Volume=29"));
    ProcessResult result = Sim({"-i", ini});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, message + "Error: Updating device '41-A0001' failed.\n" + message +
                              "Error: Updating device '41-A0002' failed.\n");
    const std::string missing = dir.file("missing.ini");
    result = Sim({"-s", "41-A0002", "-i", missing});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "Error: File [" + missing +
                              "] does not exist.\nError: Updating device '41-A0002' failed.\n");
    EXPECT_EQ(QueriesOnly(Transcript()), 2u * 2u);  // discovery's, no more
}

}  // namespace
