// Shared by the device and update tests: a fresh simulated machine, a log file at Trace, the
// video controllers that discovery builds on it, and readers for the log and the transcript.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "devices/KemoVideoFlash.h"
#include "discovery/ZelHidDisplayList.h"
#include "hid/HidLib.h"
#include "log/Log.h"
#include "platform/Text.h"
#include "sim/SimBus.h"
#include "tests/support/CaptureStdout.h"

namespace devtest {

inline sim::SimBus& Bus() {
    return sim::SimBus::instance();
}

// A report of `length` bytes starting with `head`, zeros after it.
inline std::vector<uint8_t> Report(std::initializer_list<uint8_t> head, size_t length = 264) {
    std::vector<uint8_t> bytes(length, 0);
    size_t i = 0;
    for (uint8_t b : head) {
        bytes[i++] = b;
    }
    return bytes;
}

inline std::string OutLine(const std::string& serial, std::initializer_list<uint8_t> head,
                           size_t length = 264) {
    const std::vector<uint8_t> bytes = Report(head, length);
    return serial + " OUT " + sim::HexBytes(bytes.data(), bytes.size());
}

class SimDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        CloseLogHandler();
        VerboseFlag() = 0;
        logPath = dir.file("run.log");
        GetLogSettings().fileName = logPath;
        GetLogSettings().level = LogTrace;
        Bus().reset();
        ASSERT_TRUE(HidLib::initialise());
    }

    void TearDown() override {
        list.reset();
        CloseLogHandler();
        GetLogSettings() = CLogSettings{};
        VerboseFlag() = 0;
        Bus().reset();
    }

    // Starts a new run within a test: no devices, an empty machine, an empty log.
    void FreshRun() {
        list.reset();
        Bus().reset();
        CloseLogHandler();
        std::remove(logPath.c_str());
        ASSERT_TRUE(HidLib::initialise());
    }

    // Adds a monitor and returns its index (references into the bus move as it grows).
    int AddMonitor(const std::wstring& serial) { return Bus().addMonitor(serial); }
    sim::SimMonitor& Monitor(int index) { return Bus().monitors.at(static_cast<size_t>(index)); }

    // Runs the HID walk over the simulated bus; returns the video controllers it kept.
    std::vector<KemoVideoFlash*> Discover() {
        list = std::make_unique<ZelHidDisplayList>();
        list->enumerateHid();
        std::vector<KemoVideoFlash*> found;
        for (ZelHidFlash* device : list->hidDevices()) {
            if (auto* video = dynamic_cast<KemoVideoFlash*>(device)) {
                found.push_back(video);
            }
        }
        return found;
    }

    // The message texts of the log lines written so far (closes the file to read it).
    std::vector<std::string> LogTexts() {
        CloseLogHandler();
        std::vector<std::string> texts;
        std::istringstream in(ReadFileBytes(logPath));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            // date time \t ids \t level \t text
            size_t pos = 0;
            for (int tabs = 0; tabs < 3 && pos != std::string::npos; ++tabs) {
                pos = line.find('\t', pos);
                if (pos != std::string::npos) {
                    ++pos;
                }
            }
            if (pos != std::string::npos) {
                texts.push_back(line.substr(pos));
            }
        }
        return texts;
    }

    bool Logged(const std::string& text) {
        for (const std::string& logged : LogTexts()) {
            if (logged == text) {
                return true;
            }
        }
        return false;
    }

    // The transcript lines of one direction ("OUT", "IN", "FEATURE") for one monitor.
    static std::vector<std::string> Lines(const std::string& serial, const std::string& kind,
                                          size_t from = 0) {
        std::vector<std::string> lines;
        const std::string prefix = serial + " " + kind + " ";
        const auto& transcript = Bus().transcript;
        for (size_t i = from; i < transcript.size(); ++i) {
            if (transcript[i].rfind(prefix, 0) == 0) {
                lines.push_back(transcript[i]);
            }
        }
        return lines;
    }
    static std::vector<std::string> Outs(const std::string& serial, size_t from = 0) {
        return Lines(serial, "OUT", from);
    }

    TempDir dir;
    std::string logPath;
    std::unique_ptr<ZelHidDisplayList> list;
};

}  // namespace devtest
