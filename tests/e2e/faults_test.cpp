// Scripted faults of the simulated monitors through the simulator program: what a user sees
// (console text, exit status, files) and what the monitor is left with when an exchange goes
// wrong, is late, or meets a report that waits in the input queue. The reports on the wire
// for every fault and exchange are checked by the unit tests of the video controller.
#include "tests/e2e/e2e_support.h"

namespace {

const std::string kSerial = "41-A0001";

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
    EXPECT_EQ(result.out, "\nFirmware file found:  " + ini +
                              "\n  Device - PID: 302c  COMP: 03 (SN='" + kSerial +
                              "')\n    Starting firmware update of Product ID 302c COMP: 3\n"
                              "Updating Firmware in USB Device 302c component 3\n..Error: "
                              "Updating device '" +
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
// emptied away before it, never taken for its answer; a failed read leaves no file.
TEST_F(Faults, SavingMeetingAFaultOnTheConfigurationQuery) {
    const std::string ini = dir.file("saved.ini");
    const std::string start = "Creating INI file from current configuration\n";
    const std::string failed =
        "Error: Reading the configuration of device '" + kSerial + "' failed.\n";
    const std::string written = "Check the generated \"" + ini + "\" file.\n";
    const struct {
        const char* faults;
        std::string out;
    } cases[] = {
        {"fault 2 late 3100\n", "timeout revc\n" + failed},
        {"fault 2 stale 00\n", written},
        {"fault 2 status 00\nfault 2 stale 01\n", failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.faults);
        Monitor(c.faults);
        std::remove(ini.c_str());
        const ProcessResult result = Sim({"-o", ini});
        EXPECT_EQ(result.out, start + c.out);
        EXPECT_EQ(result.exitStatus, c.out == written ? 0 : 1);
        EXPECT_EQ(FileExists(ini), c.out == written);
    }
}

// A monitor that does not answer the configuration query is a failure for a check and for
// an update only where needed, and is left as it was.
TEST_F(Faults, CheckingAndUpdatingIfNeededMeetingASilentMonitor) {
    const std::string ini = dir.file("site.ini");
    WriteFileBytes(ini, IniWith("Volume=20", "Volume=11"));
    const std::string failed =
        "timeout revc\nError: Reading the configuration of device '" + kSerial + "' failed.\n";
    for (const auto& [mode, out] :
         {std::pair<std::string, std::string>{"--check", failed},
          {"--if-needed", failed + "Error: Updating device '" + kSerial + "' failed.\n"}}) {
        SCOPED_TRACE(mode);
        Monitor("fault 2 late 3100\n");
        const ProcessResult result =
            Sim(mode == "--check" ? std::vector<std::string>{mode, ini}
                                  : std::vector<std::string>{mode, "-i", ini});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.out, out);
        QueriesOnly(Transcript());
    }
}

}  // namespace
