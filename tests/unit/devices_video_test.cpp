// The video controller on a simulated monitor over the real channel: reports on the wire,
// status rules, failed starts, updates with every exchange failing, no file from a bad read.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "devices/KemoVideoFlash.h"
#include "discovery/ZelHidDisplayList.h"
#include "hid/HidLib.h"
#include "log/Log.h"
#include "platform/Text.h"
#include "sim/SimBus.h"
#include "sim/SimWalks.h"
#include "tests/support/ConsoleAndFiles.h"

namespace {

using sim::FaultKind;

const std::string kSerial = "41-A0001";
const char kWriteFailed[] = "KemoVideoFlash::updateDevice, unable to write configuration to device";

// The transcript line of a 264-byte output report starting with `head`, zeros after it.
std::string OutLine(std::initializer_list<uint8_t> head) {
    std::vector<uint8_t> bytes(264, 0);
    std::copy(head.begin(), head.end(), bytes.begin());
    return kSerial + " OUT " + sim::HexBytes(bytes.data(), bytes.size());
}

// Every value differs from the factory default, so a wrong source or a partial update shows.
const char kApplyIni[] =
    "[General]\r\nVolume=15\r\nBrightness=1a\r\nRmtPwrCtrl=00\r\nExtBLEn=00\r\n"
    "[BeepOnTouch]\r\nBOTFreq=03\r\nBOTDur=05\r\nBOTVol=10\r\nBOTEvent=02\r\n"
    "[POSTone]\r\nTone1Vol=11\r\nTone2Vol=22\r\n[OpPannel]\r\nIconBright=0C\r\n[OSD]\r\n"
    "OSDEn=00\r\nOSDRPCEn=00\r\nOSDEBLEn=01\r\nOSDIBCEn=00\r\nOSDVCEn=00\r\nOSDBCEn=00\r\n";

// The update-mode reset, the six records, the commit and the controller reset for kApplyIni.
const std::vector<std::string> kUpdateOuts = {
    OutLine({0x00, 0x04, 0x00, 0x01, 0x00}),
    OutLine({0x00, 0x06, 0x00, 0x02, 0x00, 0x01, 0xff, 0x00, 0x00, 0x01}),
    OutLine({0x00, 0x07, 0x00, 0x02, 0x00, 0x02, 0x10, 0x73, 0x52, 0x01, 0x01}),
    OutLine({0x00, 0x09, 0x00, 0x02, 0x00, 0x04, 0x10, 0x00, 0x00, 0x03, 0x05, 0x10, 0x02}),
    OutLine({0x00, 0x08, 0x00, 0x02, 0x00, 0x03, 0x10, 0x00, 0x10, 0x11, 0x22, 0x15}),
    OutLine({0x00, 0x0e, 0x00, 0x02, 0x00, 0x09, 0x10, 0x00, 0x20, 0x0c, 0x01, 0x01, 0x14, 0x64,
             0x00, 0x00, 0x01, 0x01}),
    OutLine({0x00, 0x10, 0x00, 0x02, 0x00, 0x0b, 0x10, 0x00, 0x30, 0x00,
             0x00, 0x01, 0x00, 0x00, 0x00, 0x14, 0x00, 0x1a, 0x00, 0x00}),
    OutLine({0x00, 0x05, 0x00, 0x02, 0x00}),
    OutLine({0x00, 0x04, 0x00, 0x00, 0x40}),
};

// The ways an exchange can go wrong (or seem to), with what the product makes of them on the
// reset into update mode (a 3000 ms answer time-out, status bit 0) and on a record or the
// commit (7000 ms, bits 7 and 6), and the log line the failure leaves on each.
enum : unsigned {
    kResetPasses = 1,
    kWritePasses = 2,
    kReaches = 4,  // the report gets to the controller
    kActed = 8,    // the controller acts on it although the host saw a failure
    kGone = 16,    // the device has left the bus
};
struct Outcome {
    const char* name;
    std::vector<sim::ScriptedFault> faults;  // exchange 0 here, set per row
    unsigned is;
    std::string resetLine, writeLine;
};

const std::string kStart = "KemoVideoFlash::startUpdate, ",
                  kWrite = "KemoVideoFlash::writeKemoHWConfigBytes, ";
const std::string kTimeout = "timeout revc", kRecvFailed = kWrite + "recvInputReport failed",
                  kResetSendFailed = kStart + "sendOutputReport MCU RESET failed",
                  kWriteStuck =
                      "HidIo::sendOutputReport - GetOverlappedResult - timeout - "
                      "bytes written 0 - error=0x000003e4",
                  kFlushFailed = "HidIo::flushDeviceQueue - failed, error=0x0000001f",
                  kBadReset = kStart + "bad status 0x", kBadWrite = kWrite + "bad write status 0x",
                  kLeft = kWrite + "update failed, update mode left",
                  kNotLeft = kWrite + "update failed, leaving update mode failed";

using F = FaultKind;
sim::ScriptedFault Fault(F kind, uint8_t status = 0, uint32_t delayMs = 0) {
    return {0, kind, status, delayMs};
}
const unsigned kPasses = kResetPasses | kWritePasses | kReaches | kActed;
const sim::ScriptedFault kRefusal = Fault(F::Status, 0x80);
const std::string kGoneLine = "HidIo::sendOutputReport - Device Not connected #0";
// A lost answer is the answer 7100 ms late: the same branches, so no row of its own.
const Outcome kOutcomes[] = {
    {"status 40", {Fault(F::Status, 0x40)}, kReaches, kBadReset + "40", kBadWrite + "40"},
    {"status 80", {kRefusal}, kReaches, kBadReset + "80", kBadWrite + "80"},
    {"status 3f", {Fault(F::Status, 0x3f)}, kPasses, "", ""},  // passes both rules
    {"disconnect", {Fault(F::Disconnect)}, kGone, kResetSendFailed, kGoneLine},
    {"write pending", {Fault(F::WritePending)}, 0, kResetSendFailed, kWriteStuck},
    {"vanish", {Fault(F::Vanish)}, kReaches | kActed | kGone, kTimeout, kRecvFailed},
    {"late 2900", {Fault(F::Late, 0, 2900)}, kPasses, "", ""},
    {"late 3100", {Fault(F::Late, 0, 3100)}, kPasses & ~kResetPasses, kTimeout, ""},
    {"late 6900", {Fault(F::Late, 0, 6900)}, kPasses & ~kResetPasses, kTimeout, ""},
    {"late 7100", {Fault(F::Late, 0, 7100)}, kReaches | kActed, kTimeout, kRecvFailed},
    {"late refusal", {Fault(F::Late, 0, 6900), kRefusal}, kReaches, kTimeout, kBadWrite + "80"},
    {"flush fails", {Fault(F::FlushFails)}, 0, kFlushFailed, kFlushFailed},
    // What waits in the queue is emptied away before the report: a refusal (for every rule)
    // does not fail it, an acceptance does not hide its refusal.
    {"stale 80", {Fault(F::Stale, 0x80)}, kPasses, "", ""},
    {"stale 01", {Fault(F::Stale, 0x01), kRefusal}, kReaches, kBadReset + "80", kBadWrite + "80"},
};

class VideoTest : public ::testing::Test {
protected:
    void SetUp() override {
        GetLogSettings() = {.level = LogTrace, .fileName = logPath};
        VerboseFlag() = 0;
        WriteFileBytes(iniPath, kApplyIni);
    }
    void TearDown() override {
        list.reset();
        CloseLogHandler();
        GetLogSettings() = CLogSettings{};
        Bus().reset();
    }
    static sim::SimBus& Bus() { return sim::SimBus::instance(); }
    static sim::SimMonitor& Monitor() { return Bus().monitors.at(0); }

    // A new machine and log with monitor kSerial as `setup` makes it, through discovery: its
    // video controller (null if none was kept); `from` marks the transcript.
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
        list = std::make_unique<ZelHidDisplayList>(sim::Walks());
        list->enumerateHid();
        from = Bus().transcript.size();
        const auto& devices = list->hidDevices();
        return devices.size() == 1 ? dynamic_cast<KemoVideoFlash*>(devices[0]) : nullptr;
    }
    KemoVideoFlash* Start(std::vector<sim::ScriptedFault> faults) {
        return Start([&](sim::SimMonitor& m) { m.faults = faults; });
    }

    bool Update(KemoVideoFlash* device, const std::string& path) {
        CaptureOutput capture;
        const bool updated = device->updateDevice(Widen(path));
        printed = capture.out();
        return updated;
    }

    // How many log lines so far carry exactly `text` as their message.
    long Count(const std::string& text) {
        CloseLogHandler();
        const std::string log = ReadFileBytes(logPath), line = "\t" + text + "\r\n";
        long n = 0;
        for (size_t at = 0; (at = log.find(line, at)) != std::string::npos; ++at) {
            ++n;
        }
        return n;
    }

    // The output reports the monitor received from transcript line `since` on.
    static std::vector<std::string> Outs(size_t since) {
        std::vector<std::string> lines;
        std::copy_if(Bus().transcript.begin() + long(since), Bus().transcript.end(),
                     std::back_inserter(lines),
                     [](const std::string& line) { return line.rfind(kSerial + " OUT ", 0) == 0; });
        return lines;
    }

    TempDir dir;
    const std::string logPath = dir.file("run.log");
    const std::string iniPath = dir.file("apply.ini");
    std::unique_ptr<ZelHidDisplayList> list;
    size_t from = 0;
    std::string printed;
};

// The table needs 23 feature bytes (7 of header, 16 of table); a shorter report gives zero
// levels rather than bytes from beyond its end. Every command carries the report id of the
// command's output value capability, found among others.
TEST_F(VideoTest, CommandBytesReportIdAndComponentTable) {
    for (const uint16_t length : {uint16_t{23}, uint16_t{22}}) {
        SCOPED_TRACE(length);
        KemoVideoFlash* device = Start([&](sim::SimMonitor& m) {
            m.featureReportLength = length;
            m.reportId = 0x07;
            m.otherOutputValues = 2;
            m.componentTable = {1, 0x05, 0x01, 0, 2, 0x10, 0x02, 0x80,
                                3, 0xff, 0x00, 1, 4, 0x00, 0xab, 2};
        });
        ASSERT_NE(device, nullptr);
        DeviceLevels levels;
        EXPECT_TRUE(device->getFirmwareLevels(levels));
        const uint16_t want[] = {0x0105, 0x0210, 0x00ff, 0xab00};  // rev * 256 + gen
        ASSERT_EQ(levels.components.size(), 4u);
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(levels.components[i].level, length == 23 ? want[i] : 0) << i;
        }
        device->readConfigBytes();
        EXPECT_TRUE(device->startUpdate(1, 0));
        EXPECT_TRUE(device->startUpdate(0, 0x40));
        EXPECT_EQ(Outs(0), (std::vector<std::string>{
                               OutLine({0x07, 0x06, 0x00, 0x20, 0x00, 0xff, 0xff, 0x00, 0x01}),
                               OutLine({0x07, 0x06, 0x00, 0x20, 0x00, 0xff, 0x01, 0x00, 0x00}),
                               OutLine({0x07, 0x04, 0x00, 0x01, 0x00}),
                               OutLine({0x07, 0x04, 0x00, 0x00, 0x40})}));
    }
}

// Queries (exchange 2) and resets (exchange 3) pass on bit 0 of the status alone.
TEST_F(VideoTest, QueryAndResetStatusRule) {
    for (const uint8_t status : {uint8_t{0x00}, uint8_t{0x01}, uint8_t{0x81}, uint8_t{0xfe}}) {
        SCOPED_TRACE(int(status));
        const bool passes = (status & 1) != 0;
        KemoVideoFlash* device = Start({{2, F::Status, status}, {3, F::Status, status}});
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(device->flash(kSelectorConfiguration).has_value(), passes);
        EXPECT_EQ(device->startUpdate(1, 0), passes);
        const std::string hex = sim::HexBytes(&status, 1);
        EXPECT_EQ(Count("KemoVideoFlash::flash, bad status 0x" + hex), !passes);
        EXPECT_EQ(Count("KemoVideoFlash::startUpdate, bad status 0x" + hex), !passes);
    }
}

// A monitor that cannot be driven is dropped before a report is sent; one whose first
// exchange fails is dropped with its channel closed.
TEST_F(VideoTest, FailedInitialiseLeavesNothingOpen) {
    // No command value capability, an output report other than 264 bytes, then a first
    // exchange unanswered, disconnected or with its feature report refused.
    const struct {
        bool capsMatch;
        uint16_t outputLength;
        FaultKind fault;  // status 0x01 is the model's own answer
    } cases[] = {{false, 264, F::Status},    {true, 64, F::Status},
                 {true, 265, F::Status},     {true, 264, F::NoAnswer},
                 {true, 264, F::Disconnect}, {true, 264, F::FeatureFails}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.capsMatch << " " << c.outputLength << int(c.fault));
        CaptureOutput capture;
        EXPECT_EQ(Start([&](sim::SimMonitor& m) {
                      m.outputValueCapsMatch = c.capsMatch;
                      m.outputReportLength = c.outputLength;
                      m.faults = {{1, c.fault, 0x01}};
                  }),
                  nullptr);
        EXPECT_EQ(Bus().openHandles, 0);
        EXPECT_EQ(Monitor().exchanges, c.fault == F::Status ? 0u : 1u);  // reports handed over
        if (c.fault == F::NoAnswer) {
            EXPECT_EQ(capture.out(), "timeout revc\n");
            EXPECT_GE(Bus().clockMs, 3000u);  // the whole time-out was waited
        }
    }
}

TEST_F(VideoTest, UpdateSendsTheExactReports) {
    KemoVideoFlash* device = Start([](sim::SimMonitor& m) {
        m.componentTable = {1, 5, 1, 0, 2, 6, 2, 0, 0x2a, 7, 3, 0, 4, 8, 4, 0};
    });
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(Update(device, iniPath));
    EXPECT_EQ(Outs(from), kUpdateOuts);
    // The third component's number, in hex once and then in decimal.
    EXPECT_EQ(printed, "\nFirmware file found:  " + iniPath +
                           "\n  Device - PID: 302c  COMP: 2a (SN='41-A0001')\n"
                           "    Starting firmware update of Product ID 302c COMP: 42\n"
                           "Updating Firmware in USB Device 302c component 42\n"
                           ".. %50  complete\n.. %100 complete\n"
                           "Firmware update of Product ID 302c COMP: 42 finished\n"
                           "Firmware in USB Device 302c component 42 updated successfully\n"
                           "Reset to be done for PID 302c\n"
                           "Preparing the device for normal use...\n");
    EXPECT_GE(Bus().clockMs, 11020u);
}

// Exchanges counted from 1 with discovery's firmware query: 2 is the update-mode reset, 3 to
// 8 the records and 9 the commit, 10 the controller reset, whose result is not examined. A
// failure ends the update at once; after one in update mode (3 to 9), or an entering reset
// that went out but whose answer was not read in time, the leaving reset goes out once,
// unless the device is gone, and the monitor is back in normal mode. An entering reset
// refused, or never written, sends nothing more.
TEST_F(VideoTest, UpdateWithEveryExchangeFailingOrPassing) {
    for (uint32_t exchange = 2; exchange <= 10; ++exchange) {
        const bool reset = exchange == 2, last = exchange == 10;
        for (const Outcome& o : kOutcomes) {
            SCOPED_TRACE(testing::Message() << exchange << " " << o.name);
            const bool passes = last || (o.is & (reset ? kResetPasses : kWritePasses));
            const bool reaches = o.is & kReaches, gone = o.is & kGone;
            const bool answerLost = reaches && o.resetLine == kTimeout;
            const bool leaves = !passes && !gone && (!reset || answerLost);
            std::vector<sim::ScriptedFault> faults = o.faults;
            for (sim::ScriptedFault& f : faults) {
                f.exchange = exchange;
            }
            KemoVideoFlash* device = Start(faults);
            ASSERT_NE(device, nullptr);
            EXPECT_EQ(Update(device, iniPath), passes);

            // Sent: the reports before the failing one, that one if it got through, then the
            // leaving reset; or the whole update.
            std::vector<std::string> sent(kUpdateOuts.begin(),
                                          kUpdateOuts.begin() + (exchange - 2));
            if (reaches) {
                sent.push_back(kUpdateOuts[exchange - 2]);
            }
            if (passes && !last) {
                sent = kUpdateOuts;
            } else if (leaves) {
                sent.push_back(kUpdateOuts.back());
            }
            EXPECT_EQ(Outs(from), sent);
            // A commit the controller acted on, though its answer went wrong, is applied.
            EXPECT_EQ(Monitor().config != sim::DefaultMonitorConfig(),
                      passes || (exchange == 9 && (o.is & kActed)));
            // In update mode still only when the final reset was not acted on. A device gone
            // comes back in normal mode.
            const bool finalResetActed = reaches && (o.is & (kResetPasses | kActed));
            EXPECT_EQ(Monitor().updateMode, !gone && last && !finalResetActed);
            EXPECT_EQ(Monitor().disconnected, gone);

            EXPECT_EQ(Count(kWriteFailed), !passes);
            EXPECT_EQ(Count(kLeft), leaves);
            EXPECT_EQ(Count(kNotLeft), 0);
            const std::string& line = reset ? o.resetLine : o.writeLine;
            if (!line.empty() && !last) {
                EXPECT_EQ(Count(line), !passes) << line;
            }
            // The console says what it said before: the leaving reset prints nothing.
            EXPECT_EQ(printed.find("Reset to be done") != std::string::npos, passes);
        }
    }
}

// The leaving reset is tried once; when it fails too, that is logged and nothing else goes out.
TEST_F(VideoTest, AFailedLeavingResetIsLoggedAndLeftAlone) {
    for (const FaultKind kind : {F::NoAnswer, F::Status, F::WritePending}) {
        SCOPED_TRACE(int(kind));
        KemoVideoFlash* device = Start({{5, F::Status, 0x80}, {6, kind, 0x00}});
        ASSERT_NE(device, nullptr);
        EXPECT_FALSE(Update(device, iniPath));
        std::vector<std::string> sent(kUpdateOuts.begin(), kUpdateOuts.begin() + 4);
        if (kind != F::WritePending) {
            sent.push_back(kUpdateOuts.back());
        }
        EXPECT_EQ(Outs(from), sent);
        EXPECT_EQ(Count(kNotLeft), 1);
        // Only the reset whose answer was lost was acted on.
        EXPECT_EQ(Monitor().updateMode, kind != F::NoAnswer);
    }
}

// A configuration answer short of its 64 bytes (under 71 in all), or refused, writes no file.
TEST_F(VideoTest, SavingTheConfigurationNeedsAWholeAnswer) {
    const std::string error = "Error: Reading the configuration of device '41-A0001' failed.\n";
    for (const auto& [length, refused] :
         {std::pair<uint16_t, bool>{71, false}, {70, false}, {0, false}, {71, true}}) {
        SCOPED_TRACE(testing::Message() << length << " " << refused);
        KemoVideoFlash* device = Start([&](sim::SimMonitor& m) {
            m.featureReportLength = length;
            m.faults = {{refused ? 2u : 0u, F::FeatureFails, 0}};
        });
        ASSERT_NE(device, nullptr);
        const bool written = length == 71 && !refused;
        const std::string path = dir.file(std::to_string(length) + (refused ? "r" : ""));
        CaptureOutput capture;
        EXPECT_EQ(device->saveCurrentConfig(Widen(path)), written);
        const std::string out = capture.out();
        EXPECT_EQ(FileExists(path), written);
        EXPECT_EQ(out.ends_with(error), !written) << out;
    }
}

}  // namespace
