// Shared by the device and update tests: one simulated monitor found by discovery, a log
// file at Trace, and readers for the log and the reports the monitor received.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>

#include "devices/KemoVideoFlash.h"
#include "discovery/ZelHidDisplayList.h"
#include "hid/HidLib.h"
#include "log/Log.h"
#include "platform/Text.h"
#include "sim/SimBus.h"
#include "tests/support/CaptureStdout.h"

namespace devtest {

inline const std::string kSerial = "41-A0001";

// The transcript line of a 264-byte output report starting with `head`, zeros after it.
inline std::string OutLine(std::initializer_list<uint8_t> head) {
    std::vector<uint8_t> bytes(264, 0);
    std::copy(head.begin(), head.end(), bytes.begin());
    return kSerial + " OUT " + sim::HexBytes(bytes.data(), bytes.size());
}

class SimDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        GetLogSettings().fileName = logPath;
        GetLogSettings().level = LogTrace;
        VerboseFlag() = 0;
    }
    void TearDown() override {
        list.reset();
        CloseLogHandler();
        GetLogSettings() = CLogSettings{};
        Bus().reset();
    }
    static sim::SimBus& Bus() { return sim::SimBus::instance(); }
    static sim::SimMonitor& Monitor() { return Bus().monitors.at(0); }

    // A new machine and log with monitor kSerial, as `setup` makes it, through discovery.
    // Returns its video controller (null if none was kept); `from` marks the transcript.
    KemoVideoFlash* Start(const std::function<void(sim::SimMonitor&)>& setup = {}) {
        list.reset();
        CloseLogHandler();
        std::remove(logPath.c_str());
        Bus().reset();
        Bus().addMonitor(Widen(kSerial));
        if (setup) {
            setup(Monitor());
        }
        EXPECT_TRUE(HidLib::initialise());
        list = std::make_unique<ZelHidDisplayList>();
        list->enumerateHid();
        from = Bus().transcript.size();
        const auto& devices = list->hidDevices();
        return devices.size() == 1 ? dynamic_cast<KemoVideoFlash*>(devices[0]) : nullptr;
    }
    KemoVideoFlash* Start(std::vector<sim::ScriptedFault> faults) {
        return Start([&](sim::SimMonitor& m) { m.faults = faults; });
    }

    // The texts of the log lines so far (after date, ids and level).
    std::vector<std::string> LogTexts() {
        CloseLogHandler();
        std::vector<std::string> texts;
        std::istringstream in(ReadFileBytes(logPath));
        for (std::string line; std::getline(in, line);) {
            size_t at = std::string::npos;  // the third tab
            for (int tab = 0; tab < 3 && (at = line.find('\t', at + 1)) != std::string::npos;) {
                ++tab;
            }
            if (at != std::string::npos) {
                texts.push_back(line.substr(at + 1, line.find_last_not_of('\r') - at));
            }
        }
        return texts;
    }
    long Count(const std::string& text) {
        const auto texts = LogTexts();
        return std::count(texts.begin(), texts.end(), text);
    }

    // The output reports the monitor received from transcript line `since` on.
    static std::vector<std::string> Outs(size_t since) {
        std::vector<std::string> lines;
        for (size_t i = since; i < Bus().transcript.size(); ++i) {
            if (Bus().transcript[i].rfind(kSerial + " OUT ", 0) == 0) {
                lines.push_back(Bus().transcript[i]);
            }
        }
        return lines;
    }

    TempDir dir;
    const std::string logPath = dir.file("run.log");
    std::unique_ptr<ZelHidDisplayList> list;
    size_t from = 0;
};

}  // namespace devtest
