// Shared pieces of the end-to-end tests: the programs under test and a scratch directory
// for each run (the simulator keeps its monitors in the directory it runs in).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ConsoleAndFiles.h"
#include "tests/support/RunProcess.h"

#ifdef _WIN32
inline const std::string kSimProgram = "marvanecfgutil-sim.exe";
inline const std::string kLockHolder = "lock_holder.exe";
#else
inline const std::string kSimProgram = "marvanecfgutil-sim";
inline const std::string kLockHolder = "lock_holder";
#endif

// What lock_holder says on its last line: how long the program it started ran.
inline long long HeldProgramMilliseconds(const std::string& err) {
    const std::string marker = "lock_holder: program ended after ";
    const size_t at = err.rfind(marker);
    return at == std::string::npos ? -1 : std::atoll(err.c_str() + at + marker.size());
}

class EndToEnd : public ::testing::Test {
protected:
    ProcessResult Sim(const std::vector<std::string>& arguments) {
        return RunProcess(BuiltProgram(kSimProgram), arguments, dir.path());
    }
    std::string StateFile() const { return dir.file("marvanecfgutil-sim.state"); }
    std::string Transcript() const {
        return ReadFileBytes(dir.file("marvanecfgutil-sim.transcript"));
    }

    TempDir dir;
};

// The lines of a text, without their "\r\n" or "\n".
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line.ends_with('\r') ? line.substr(0, line.size() - 1) : line);
    }
    return lines;
}

// The reports the monitors received: queries only (firmware or configuration), how many.
inline size_t QueriesOnly(const std::string& transcript) {
    size_t queries = 0;
    for (const auto& line : Lines(transcript)) {
        if (line.find(" OUT ") != std::string::npos) {
            ++queries;
            EXPECT_NE(line.find(" 06 00 20 00 ff "), std::string::npos) << "not a query: " << line;
        }
    }
    return queries;
}

// What a Volume of 0x29 in the file gets.
inline const std::string kTooHigh =
    "Error: Item \"Volume\" is too high 41 (0x29). Check the configuration file used.\n"
    "- Min: 0 (0x00)\n- Max: 40 (0x28)\n- Default: 32 (0x20)\n";

// What -i prints for a monitor it updates.
inline std::string UpdateText(const std::string& ini, const std::string& serial) {
    return "\nFirmware file found:  " + ini + "\n  Device - PID: 302c  COMP: 03 (SN='" + serial +
           "')\n    Starting firmware update of Product ID 302c COMP: 3\n"
           "Updating Firmware in USB Device 302c component 3\n"
           ".. %50  complete\n.. %100 complete\n"
           "Firmware update of Product ID 302c COMP: 3 finished\n"
           "Firmware in USB Device 302c component 3 updated successfully\n"
           "Reset to be done for PID 302c\nPreparing the device for normal use...\n";
}

// The factory settings as a user writes them, with `replace` replaced by `by`.
inline std::string IniWith(const std::string& replace, const std::string& by) {
    std::string text =
        "[General]\nVolume=20\nBrightness=1d\nRmtPwrCtrl=01\nExtBLEn=01\n[BeepOnTouch]\n"
        "BOTFreq=02\nBOTDur=02\nBOTVol=18\nBOTEvent=01\n[POSTone]\nTone1Vol=18\nTone2Vol=26\n"
        "[OpPannel]\nIconBright=1b\n[OSD]\nOSDEn=01\nOSDRPCEn=01\nOSDEBLEn=00\nOSDIBCEn=01\n"
        "OSDVCEn=01\nOSDBCEn=01\n";
    if (!replace.empty()) {
        const size_t at = text.find(replace);
        EXPECT_NE(at, std::string::npos) << replace;
        text.replace(at, replace.size(), by);
    }
    return text;
}
