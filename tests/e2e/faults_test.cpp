// Scripted faults of the simulated monitors through the simulator program: what a user sees
// (console text, exit status, files) and what the monitor is left with when an exchange goes
// wrong, is late, or meets a report that waits in the input queue.
#include "tests/e2e/e2e_support.h"

namespace {

const std::string kSerial = "41-A0001";

// The factory settings with Volume 11 instead of 20.
const std::string kApplyIni =
    "[General]\nVolume=11\nBrightness=1d\nRmtPwrCtrl=01\nExtBLEn=01\n[BeepOnTouch]\nBOTFreq=02\n"
    "BOTDur=02\nBOTVol=18\nBOTEvent=01\n[POSTone]\nTone1Vol=18\nTone2Vol=26\n[OpPannel]\n"
    "IconBright=1b\n[OSD]\nOSDEn=01\nOSDRPCEn=01\nOSDEBLEn=00\nOSDIBCEn=01\nOSDVCEn=01\n"
    "OSDBCEn=01\n";

// The output reports of an update, by their first six bytes, exchange 2 to 10.
const std::vector<std::string> kUpdateReports = {
    "01 04 00 01 00 00", "01 06 00 02 00 01", "01 07 00 02 00 02",
    "01 09 00 02 00 04", "01 08 00 02 00 03", "01 0e 00 02 00 09",
    "01 10 00 02 00 0b", "01 05 00 02 00 00", "01 04 00 00 40 00"};
const std::string& kLeavingReset = kUpdateReports.back();

// What an update prints up to the end of record `records` (6: all, 7: the commit and the
// final reset too).
std::string UpdateText(const std::string& ini, int records) {
    std::string text = "\nFirmware file found:  " + ini + "\n  Device - PID: 302c  COMP: 03 (SN='" +
                       kSerial +
                       "')\n    Starting firmware update of Product ID 302c COMP: 3\n"
                       "Updating Firmware in USB Device 302c component 3\n";
    const char* progress[] = {".", ".", " %50  complete\n", ".", ".", " %100 complete\n"};
    for (int k = 0; k < records && k < 6; ++k) {
        text += progress[k];
    }
    if (records >= 6) {
        text += "Firmware update of Product ID 302c COMP: 3 finished\n";
    }
    if (records > 6) {
        text +=
            "Firmware in USB Device 302c component 3 updated successfully\n"
            "Reset to be done for PID 302c\nPreparing the device for normal use...\n";
    }
    return text;
}

// The first six bytes of every output report the monitor received in the last run.
std::vector<std::string> LastRunReports(const std::string& transcript) {
    std::vector<std::string> reports;
    for (const auto& line : Lines(transcript)) {
        if (line.rfind("# ", 0) == 0) {
            reports.clear();
        }
        const size_t out = line.find(" OUT ");
        if (out != std::string::npos) {
            reports.push_back(line.substr(out + 5, 17));
        }
    }
    return reports;
}

class Faults : public EndToEnd {
protected:
    void Monitor(const std::string& faults) {
        WriteFileBytes(StateFile(), "monitor " + kSerial + "\n" + faults);
    }
    // -o into a new file, the faults removed and the monitor otherwise as the last run left
    // it (its mode too): the Volume line the file holds, or "no file".
    std::string SavedVolume() {
        std::string state;
        for (const auto& line : Lines(ReadFileBytes(StateFile()))) {
            if (line.find("fault ") == std::string::npos) {
                state += line + "\n";
            }
        }
        WriteFileBytes(StateFile(), state);
        const std::string ini = dir.file("saved" + std::to_string(++saves) + ".ini");
        const ProcessResult result = Sim({"-o", ini});
        if (result.exitStatus != 0 || !FileExists(ini)) {
            return "no file: " + result.out;
        }
        const std::string text = ReadFileBytes(ini);
        const size_t at = text.find("Volume=");
        return at == std::string::npos ? text : text.substr(at, 9);
    }
    int saves = 0;
};

// A failure after the controller entered update mode, or after a reset into it whose answer
// was lost, ends the update with the error line and status 1, and the reset that leaves update
// mode follows unless the monitor is gone: the next run finds it in normal mode and reads its
// configuration.
TEST_F(Faults, UpdatesMeetingAFaultOnARecordOrTheCommit) {
    const std::string ini = dir.file("apply.ini");
    WriteFileBytes(ini, kApplyIni);
    const std::string failed = "Error: Updating device '" + kSerial + "' failed.\n";
    const struct {
        const char* faults;
        int status;
        int printed;      // records whose progress shows; 7: the whole update
        size_t received;  // update reports the monitor took, from exchange 2 on
        bool leaves;      // the leaving reset follows
        const char* volume;
    } cases[] = {
        {"fault 5 status 80\n", 1, 2, 4, true, "Volume=20"},
        {"fault 9 status 40\n", 1, 6, 8, true, "Volume=20"},
        {"fault 5 no-answer\n", 1, 2, 4, true, "Volume=20"},
        {"fault 5 write-pending\n", 1, 2, 3, true, "Volume=20"},
        {"fault 5 flush-fails\n", 1, 2, 3, true, "Volume=20"},
        {"fault 5 vanish\n", 1, 2, 4, false, "Volume=20"},
        {"fault 5 disconnect\n", 1, 2, 3, false, "Volume=20"},
        // Answers within the 7000 ms of records and commits count; later ones do not, though
        // the controller acted on them (the late commit applied the settings).
        {"fault 5 late 6900\nfault 9 late 6900\n", 0, 7, 9, false, "Volume=11"},
        {"fault 5 late 7100\n", 1, 2, 4, true, "Volume=20"},
        {"fault 9 late 7100\n", 1, 6, 8, true, "Volume=11"},
        {"fault 9 late 6900\nfault 9 status 80\n", 1, 6, 8, true, "Volume=20"},
        // An acceptance waiting in the queue is emptied away before the commit it could pass
        // for, and the refusal is seen.
        {"fault 9 stale 00\nfault 9 status 80\n", 1, 6, 8, true, "Volume=20"},
        {"fault 5 stale 00\nfault 5 status 40\n", 1, 2, 4, true, "Volume=20"},
        // The same before the reset into update mode: it is refused, nothing else is sent.
        {"fault 2 stale 01\nfault 2 status 00\n", 1, -1, 1, false, "Volume=20"},
        // A reset into update mode whose answer comes after its 3000 ms, or never: the
        // controller may be in update mode, so it is left.
        {"fault 2 late 3100\n", 1, -1, 1, true, "Volume=20"},
        {"fault 2 no-answer\n", 1, -1, 1, true, "Volume=20"},
        {"fault 2 vanish\n", 1, -1, 1, false, "Volume=20"},
        {"fault 2 late 2900\n", 0, 7, 9, false, "Volume=11"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.faults);
        Monitor(c.faults);
        const ProcessResult result = Sim({"-i", ini});
        EXPECT_EQ(result.exitStatus, c.status);
        EXPECT_EQ(result.err, "");
        if (c.printed < 0) {
            EXPECT_EQ(result.out, failed);
        } else {
            EXPECT_EQ(result.out, UpdateText(ini, c.printed) + (c.status == 0 ? "" : failed));
        }
        std::vector<std::string> sent(kUpdateReports.begin(),
                                      kUpdateReports.begin() + long(c.received));
        if (c.leaves) {
            sent.push_back(kLeavingReset);
        }
        sent.insert(sent.begin(), "01 06 00 20 00 ff");  // discovery's firmware query
        EXPECT_EQ(LastRunReports(Transcript()), sent);
        // No failure leaves the monitor in update mode for the next run.
        EXPECT_EQ(ReadFileBytes(StateFile()).find("mode update"), std::string::npos);
        const std::string volume = SavedVolume();
        EXPECT_EQ(volume.substr(0, std::string(c.volume).size()), c.volume) << volume;
    }
}

// The configuration query waits 3000 ms for its answer; a report waiting in the queue before
// it (here a refusal) is emptied away; the queue, the write and the read failing each leave no
// file.
TEST_F(Faults, SavingMeetingAFaultOnTheConfigurationQuery) {
    const std::string start = "Creating INI file from current configuration\n";
    const std::string failed =
        "Error: Reading the configuration of device '" + kSerial + "' failed.\n";
    const struct {
        const char* faults;
        bool written;
        std::string out;
    } cases[] = {
        {"fault 2 late 2900\n", true, ""},
        {"fault 2 late 3000\n", true, ""},
        {"fault 2 late 3100\n", false, "timeout revc\n" + failed},
        {"fault 2 stale 00\n", true, ""},
        {"fault 2 stale 00\nfault 2 late 2000\n", true, ""},
        {"fault 2 flush-fails\n", false, failed},
        {"fault 2 write-pending\n", false, failed},
        {"fault 2 vanish\n", false, "timeout revc\n" + failed},
        {"fault 2 status 00\nfault 2 stale 01\n", false, failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.faults);
        Monitor(c.faults);
        const std::string ini = dir.file("saved.ini");
        std::remove(ini.c_str());
        const ProcessResult result = Sim({"-o", ini});
        EXPECT_EQ(result.exitStatus, c.written ? 0 : 1);
        EXPECT_EQ(FileExists(ini), c.written);
        EXPECT_EQ(result.out,
                  start + (c.written ? "Check the generated \"" + ini + "\" file.\n" : c.out));
    }
}

// Discovery's firmware query has the same 3000 ms: a monitor answering later is not listed.
TEST_F(Faults, ListingWaitsThreeSecondsForTheFirmwareLevels) {
    for (const auto& [faults, listed] : {std::pair<const char*, bool>{"fault 1 late 2900\n", true},
                                         {"fault 1 late 3100\n", false},
                                         {"fault 1 flush-fails\n", false},
                                         {"fault 1 stale 00\n", true}}) {
        SCOPED_TRACE(faults);
        Monitor(faults);
        const ProcessResult result = Sim({"-L"});
        EXPECT_EQ(result.exitStatus, listed ? 0 : 1);
        EXPECT_EQ(result.out.find("serial/id=" + kSerial) != std::string::npos, listed)
            << result.out;
    }
}

}  // namespace
