// The options for scripts through the simulator program (--check, --if-needed, --json), and
// scripted faults of the simulated monitors: what a user sees and what the monitor is left
// with when an exchange goes wrong, is late, or meets a report waiting in the input queue
// (the reports on the wire for every fault and exchange: the video controller's unit tests).
#include <nlohmann/json.hpp>

#include "platform/Text.h"
#include "tests/e2e/e2e_support.h"

namespace {

using Json = nlohmann::json;

// The second monitor holds Volume 05 and BOTFreq 03: the file lists Volume first although
// BOTFreq lives at a lower address in the controller.
const std::string kSerial = "41-A0001";
const std::string kDrifted = "monitor 41-A0001\nmonitor 41-A0002\nconfig 00 03\nconfig 12 05\n";

TEST_F(EndToEnd, CheckPrintsEachDifferenceInFileOrderAndExits2ForDrift) {
    WriteFileBytes(StateFile(), kDrifted);
    const std::string ini = dir.file("site.ini");
    WriteFileBytes(ini, IniWith("", ""));
    WriteFileBytes(dir.file("bad.ini"), IniWith("Volume=20", "Volume=29"));
    const std::string drift =
        "Device '41-A0002' differs: Volume monitor=05 file=20\n"
        "Device '41-A0002' differs: BOTFreq monitor=03 file=02\n";
    const struct {
        std::vector<std::string> arguments;
        std::string out, err;
        int status;
    } cases[] = {
        {{"--check", ini}, "Device '41-A0001' matches.\n" + drift, "", 2},
        {{"-s", "41-A0001", "--check=" + ini}, "Device '41-A0001' matches.\n", "", 0},
        {{"--check", ini, "-s", "41-A0002"}, drift, "", 2},
        {{"-s", "41-a0002", "--check", ini},
         "",
         "Error: Unknown serial number. Please try again.\n",
         1},
        {{"--check", dir.file("bad.ini")}, kTooHigh, "", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        const ProcessResult result = Sim(c.arguments);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(result.exitStatus, c.status);
    }
    // Discovery asks both monitors each run; a check asks the monitors it compares once.
    EXPECT_EQ(QueriesOnly(Transcript()), 5u * 2u + 4u);
    EXPECT_NE(ReadFileBytes(StateFile()).find("config 00 03"), std::string::npos);
}

TEST_F(EndToEnd, IfNeededUpdatesOnlyTheMonitorThatDiffers) {
    WriteFileBytes(StateFile(), kDrifted);
    const std::string ini = dir.file("site.ini");
    WriteFileBytes(ini, IniWith("", ""));
    ProcessResult result = Sim({"--if-needed", "-i", ini});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out,
              "Device '41-A0001' already matches, not updated.\n" + UpdateText(ini, "41-A0002"));
    EXPECT_EQ(Sim({"--check", ini}).exitStatus, 0);
    result = Sim({"-i", ini, "--if-needed"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out,
              "Device '41-A0001' already matches, not updated.\n"
              "Device '41-A0002' already matches, not updated.\n");
}

TEST_F(EndToEnd, JsonIsOneDocumentOnStandardOutputWhateverHappens) {
    // A serial with a quote, a backslash, a control character and non-ASCII text.
    const std::string odd = "41-\"q\\\x01\xc3\xa9";
    WriteFileBytes(StateFile(), "monitor " + odd + "\nconfig 12 05\n");
    const std::string ini = dir.file("site.ini");
    WriteFileBytes(ini, IniWith("", ""));

    ProcessResult result = Sim({"-L", "--json"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");
    ASSERT_TRUE(Json::accept(result.out)) << result.out;
    Json document = Json::parse(result.out);
    EXPECT_EQ(document["schemaVersion"], 1);
    EXPECT_EQ(document["monitors"][0]["serial"], ToUtf8(Widen(odd)));
    EXPECT_EQ(document["monitors"][0]["vid"], "0f66");
    EXPECT_EQ(document["monitors"][0]["firmware"]["SCALAR"], "0210");

    result = Sim({"--json", "-v", "--check", ini});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.err.find("Checking device(s) against"), std::string::npos) << result.err;
    ASSERT_TRUE(Json::accept(result.out)) << result.out;
    document = Json::parse(result.out);
    EXPECT_EQ(document["file"], ini);
    EXPECT_EQ(document["monitors"][0]["matches"], false);
    EXPECT_EQ(document["monitors"][0]["differences"],
              Json::parse(R"([{"section":"General","key":"Volume","monitor":"05","file":"20"}])"));

    // A monitor that does not answer the query: unknown, not matching; the message elsewhere.
    // Its failure outweighs the other monitor's drift.
    WriteFileBytes(StateFile(), "monitor 41-A0001\nfault 2 late 3100\n" + kDrifted.substr(17));
    result = Sim({"--check", ini, "--json"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.err.find("Error: Reading the configuration of device '41-A0001' failed.\n"),
              std::string::npos);
    ASSERT_TRUE(Json::accept(result.out)) << result.out;
    document = Json::parse(result.out);
    EXPECT_TRUE(document["monitors"][0]["matches"].is_null());
    EXPECT_EQ(document["monitors"][1]["matches"], false);

    // No monitor: every mode but -g ends with 1, the message where no document goes.
    WriteFileBytes(StateFile(), "# nothing attached\n");
    const std::string none = "Error: No single 7352 device is attached.\n", x = dir.file("x.ini");
    const struct {
        std::vector<std::string> arguments;
        std::string out, err;
    } cases[] = {
        {{"--json", "-L"}, "{\"schemaVersion\":1,\"monitors\":[]}\n", none},
        {{"--json", "--check", "a.ini"},
         "{\"schemaVersion\":1,\"file\":\"a.ini\",\"monitors\":[]}\n",
         none},
        {{"-o", x}, none, ""},
        {{"-i", x}, none, ""},
        {{"-g", x},
         "Generating default HW configuration to \"" + x + "\" file.\nCheck the generated \"" + x +
             "\" file.\n",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        result = Sim(c.arguments);
        EXPECT_EQ(result.exitStatus, c.err.empty() && c.out != none ? 0 : 1);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, c.err);
    }
}

class Faults : public EndToEnd {
protected:
    void Monitor(const std::string& faults) {
        WriteFileBytes(StateFile(), "monitor " + kSerial + "\n" + faults);
    }
};

// A record refused after the controller entered update mode ends the update with the error
// line and status 1 (every fault on every exchange: the video controller's unit tests), and
// the monitor is left in normal mode: the next run reads its configuration, unchanged.
TEST_F(Faults, AnUpdateMeetingARefusedRecord) {
    const std::string ini = dir.file("apply.ini");
    WriteFileBytes(ini, IniWith("Volume=20", "Volume=11"));
    Monitor("fault 5 status 80\n");
    ProcessResult result = Sim({"-i", ini});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.err, "");
    const std::string update = UpdateText(ini, kSerial);
    EXPECT_EQ(result.out, update.substr(0, update.find(" %50")) + "Error: Updating device '" +
                              kSerial + "' failed.\n");
    std::string state;  // the monitor as the run left it, without its fault
    for (const auto& line : Lines(ReadFileBytes(StateFile()))) {
        state += line.find("fault ") == std::string::npos ? line + "\n" : "";
    }
    EXPECT_EQ(state.find("mode update"), std::string::npos);
    WriteFileBytes(StateFile(), state);
    const std::string saved = dir.file("saved.ini");
    result = Sim({"-o", saved});
    EXPECT_EQ(result.exitStatus, 0) << result.out;
    EXPECT_NE(ReadFileBytes(saved).find("Volume=20"), std::string::npos);
}

// The configuration query waits 3000 ms for its answer; a report left waiting in the queue is
// emptied away before it, never taken for its answer. A failed read leaves no file, is a
// failure for a check and for an update where needed, and leaves the monitor as it was.
TEST_F(Faults, TheConfigurationQueryMeetingAFault) {
    const std::string ini = dir.file("saved.ini"), site = dir.file("site.ini");
    WriteFileBytes(site, IniWith("Volume=20", "Volume=11"));
    const std::string start = "Creating INI file from current configuration\n";
    const std::string failed =
        "Error: Reading the configuration of device '" + kSerial + "' failed.\n";
    const std::string written = "Check the generated \"" + ini + "\" file.\n";
    const struct {
        const char* faults;
        std::vector<std::string> arguments;
        std::string out;
    } cases[] = {
        {"fault 2 late 3100\n", {"-o", ini}, start + "timeout revc\n" + failed},
        {"fault 2 stale 00\n", {"-o", ini}, start + written},
        {"fault 2 status 00\nfault 2 stale 01\n", {"-o", ini}, start + failed},
        {"fault 2 late 3100\n", {"--check", site}, "timeout revc\n" + failed},
        {"fault 2 late 3100\n",
         {"--if-needed", "-i", site},
         "timeout revc\n" + failed + "Error: Updating device '" + kSerial + "' failed.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.faults + ::testing::PrintToString(c.arguments));
        Monitor(c.faults);
        std::remove(ini.c_str());
        const ProcessResult result = Sim(c.arguments);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.exitStatus, c.out.ends_with(written) ? 0 : 1);
        EXPECT_EQ(FileExists(ini), c.out.ends_with(written));
    }
    QueriesOnly(Transcript());
}

}  // namespace
