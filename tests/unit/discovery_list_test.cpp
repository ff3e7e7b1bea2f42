#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "discovery/ZelHidDisplayList.h"
#include "hid/HidLib.h"
#include "log/Log.h"
#include "sim/SimBus.h"
#include "tests/support/CaptureStdout.h"

namespace {

struct LogLine {
    std::string level;  // "Error", "Debug", ...
    std::string text;
};

// Sends every log line of the test to a file of its own, at the most detailed level.
class ListTest : public ::testing::Test {
protected:
    void SetUp() override {
        CloseLogHandler();
        savedSettings = GetLogSettings();
        savedVerbose = VerboseFlag();
        GetLogSettings().level = LogTrace;
        GetLogSettings().fileName = dir.file("discovery.log");
        VerboseFlag() = 0;
        sim::SimBus::instance().reset();
        ASSERT_TRUE(HidLib::initialise());
    }

    void TearDown() override {
        CloseLogHandler();
        GetLogSettings() = savedSettings;
        VerboseFlag() = savedVerbose;
        sim::SimBus::instance().reset();
    }

    // Closes the log and returns its lines so far; the next log call starts a new file
    // handler appending to the same file.
    std::vector<LogLine> logLines() {
        CloseLogHandler();
        std::vector<LogLine> lines;
        std::istringstream in(ReadFileBytes(dir.file("discovery.log")));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            // <date time.ms>\tP[..] T[..]\t<level>\t<text>
            const std::string::size_type beforeLevel = line.find('\t', line.find('\t') + 1);
            const std::string::size_type beforeText = line.find('\t', beforeLevel + 1);
            if (beforeLevel != std::string::npos && beforeText != std::string::npos) {
                lines.push_back({line.substr(beforeLevel + 1, beforeText - beforeLevel - 1),
                                 line.substr(beforeText + 1)});
            }
        }
        return lines;
    }

    size_t countLines(const std::vector<LogLine>& lines, const std::string& text) const {
        return static_cast<size_t>(std::count_if(lines.begin(), lines.end(),
                                                 [&](const LogLine& l) { return l.text == text; }));
    }

    size_t countContaining(const std::vector<LogLine>& lines, const std::string& part) const {
        return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const LogLine& l) {
            return l.text.find(part) != std::string::npos;
        }));
    }

    // Every device object made is destroyed exactly once, base and derived part alike.
    void expectBalanced(const std::vector<LogLine>& lines) const {
        for (const char* cls : {"KemoVideoFlash", "ZelHidFlash", "KemoUSBTouchFlash", "ZelUsbFlash",
                                "ZelHidDisplayList"}) {
            EXPECT_EQ(countLines(lines, std::string(cls) + " Constructed"),
                      countLines(lines, std::string(cls) + " Destroyed"))
                << cls;
        }
    }

    static std::vector<std::wstring> serialsOf(const std::vector<DeviceLevels>& levels) {
        std::vector<std::wstring> serials;
        for (const DeviceLevels& record : levels) {
            serials.push_back(record.serial);
        }
        return serials;
    }

    TempDir dir;
    CLogSettings savedSettings;
    int savedVerbose = 0;
};

const std::string kFoundMonitor =
    "ZelHidDisplayList::enumerateHid - found supported flash chip - vid=0x0f66, pid=0x302c, "
    "usage page=0xff45, usage=0xa000";
const std::string kFoundTouch =
    "ZelHidDisplayList::enumerateHid - found supported flash chip - vid=0x03eb, pid=0x212c, "
    "usage page=0xff00, usage=0x0001";

TEST_F(ListTest, DefaultBusListsBothMonitorsInBusOrder) {
    sim::SimBus::instance().loadDefault();
    std::vector<DeviceLevels> levels;
    {
        ZelHidDisplayList list;
        list.clear();
        ASSERT_TRUE(list.enumerateHid());
        ASSERT_TRUE(list.enumerateUsb());
        ASSERT_EQ(list.hidDevices().size(), 2u);
        EXPECT_EQ(list.getAllFirmwareLevels(levels), 0);
        // The walk released every preparsed-data block it was given.
        EXPECT_TRUE(sim::SimBus::instance().preparsed.empty());
    }
    // ... and the list's devices closed their channels.
    EXPECT_EQ(sim::SimBus::instance().openHandles, 0);
    EXPECT_EQ(serialsOf(levels), (std::vector<std::wstring>{L"41-A0001", L"41-A0002"}));
    for (const DeviceLevels& record : levels) {
        EXPECT_EQ(record.vid, 0x0F66);
        EXPECT_EQ(record.pid, 0x302C);
        EXPECT_EQ(record.components.size(), 4u);
    }

    const std::vector<LogLine> lines = logLines();
    // Two monitors and the touch interface match; the monitor's second collection and the
    // keyboard pass without a line.
    EXPECT_EQ(countLines(lines, kFoundMonitor), 2u);
    EXPECT_EQ(countLines(lines, kFoundTouch), 1u);
    EXPECT_EQ(countContaining(lines, "found supported flash chip"), 3u);
    for (const LogLine& line : lines) {
        if (line.text.find("found supported flash chip") != std::string::npos) {
            EXPECT_EQ(line.level, "Debug");
        }
    }
    // The touch interface gets no object: one add attempt per match, two objects.
    EXPECT_EQ(countLines(lines, "ZelHidDisplayList::addZelHidFlash"), 3u);
    EXPECT_EQ(countLines(lines, "KemoVideoFlash Constructed"), 2u);
    EXPECT_EQ(countLines(lines, "KemoUSBTouchFlash Constructed"), 0u);
    EXPECT_EQ(countContaining(lines, "dspcode"), 0u);
    // Nothing is added by the hub walk with its tables empty.
    EXPECT_EQ(countLines(lines, "ZelHidDisplayList::addZelUsbFlash"), 0u);
    // The list's own lines frame its life.
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(countLines(lines, "ZelHidDisplayList Constructed"), 1u);
    EXPECT_EQ(lines.back().text, "ZelHidDisplayList Destroyed");
    expectBalanced(lines);
}

TEST_F(ListTest, NoMonitorReportsDspCode5) {
    std::vector<DeviceLevels> levels;
    {
        ZelHidDisplayList list;
        list.clear();
        ASSERT_TRUE(list.enumerateHid());
        ASSERT_TRUE(list.enumerateUsb());
        EXPECT_TRUE(list.hidDevices().empty());
        EXPECT_EQ(list.getAllFirmwareLevels(levels), kDspCodeNoDevice);
        EXPECT_EQ(kDspCodeNoDevice, 5);
    }
    EXPECT_TRUE(levels.empty());
    const std::vector<LogLine> lines = logLines();
    ASSERT_EQ(countLines(lines, "ZelHidDisplayList::getAllFirmwareLevels() dspcode=5"), 1u);
    for (const LogLine& line : lines) {
        if (line.text.find("dspcode") != std::string::npos) {
            EXPECT_EQ(line.level, "Error");
        }
    }
    EXPECT_EQ(countContaining(lines, "found supported flash chip"), 0u);
}

TEST_F(ListTest, DspCodeLineReachesConsoleOnlyWhenVerbose) {
    for (int verbose : {0, 1}) {
        VerboseFlag() = verbose;
        CaptureOutput capture;
        {
            ZelHidDisplayList list;
            std::vector<DeviceLevels> levels;
            EXPECT_EQ(list.getAllFirmwareLevels(levels), 5);
        }
        EXPECT_EQ(capture.out(),
                  verbose ? "ZelHidDisplayList::getAllFirmwareLevels() dspcode=5\n" : "")
            << verbose;
        EXPECT_EQ(capture.err(), "");
    }
}

TEST_F(ListTest, FirmwareLevelsForOneAndTwoMonitors) {
    sim::SimBus& bus = sim::SimBus::instance();
    bus.addMonitor(L"SER-1");
    {
        ZelHidDisplayList list;
        ASSERT_TRUE(list.enumerateHid());
        // The result is appended to, never cleared.
        std::vector<DeviceLevels> levels(1);
        levels[0].serial = L"kept";
        EXPECT_EQ(list.getAllFirmwareLevels(levels), 0);
        EXPECT_EQ(serialsOf(levels), (std::vector<std::wstring>{L"kept", L"SER-1"}));
    }
    bus.addMonitor(L"SER-2");
    {
        ZelHidDisplayList list;
        ASSERT_TRUE(list.enumerateHid());
        std::vector<DeviceLevels> levels;
        EXPECT_EQ(list.getAllFirmwareLevels(levels), 0);
        EXPECT_EQ(serialsOf(levels), (std::vector<std::wstring>{L"SER-1", L"SER-2"}));
        // Asking twice gives the same records again.
        EXPECT_EQ(list.getAllFirmwareLevels(levels), 0);
        EXPECT_EQ(levels.size(), 4u);
    }
    expectBalanced(logLines());
}

TEST_F(ListTest, FailedInitialiseLeavesTheListUnchanged) {
    sim::SimBus& bus = sim::SimBus::instance();
    const int shortReports = bus.addMonitor(L"SHORT");
    bus.addMonitor(L"GOOD");
    const int noCommand = bus.addMonitor(L"NOCMD");
    bus.monitors[static_cast<size_t>(shortReports)].outputReportLength = 100;
    bus.monitors[static_cast<size_t>(noCommand)].outputValueCapsMatch = false;
    {
        ZelHidDisplayList list;
        ASSERT_TRUE(list.enumerateHid());
        std::vector<DeviceLevels> levels;
        EXPECT_EQ(list.getAllFirmwareLevels(levels), 0);
        EXPECT_EQ(serialsOf(levels), (std::vector<std::wstring>{L"GOOD"}));
        EXPECT_EQ(list.hidDevices().size(), 1u);
    }
    EXPECT_EQ(bus.openHandles, 0);
    EXPECT_TRUE(bus.preparsed.empty());
    const std::vector<LogLine> lines = logLines();
    // All three matched and got an object; the two that failed were deleted at once.
    EXPECT_EQ(countLines(lines, kFoundMonitor), 3u);
    EXPECT_EQ(countLines(lines, "KemoVideoFlash Constructed"), 3u);
    expectBalanced(lines);
}

TEST_F(ListTest, ClearDeletesEveryObjectOnceAndAllowsAnotherWalk) {
    sim::SimBus::instance().loadDefault();
    {
        ZelHidDisplayList list;
        ASSERT_TRUE(list.enumerateHid());
        list.addZelUsbFlash(0x03EB, 0x212C, 0x0102, L"T1", L"Not-Used");
        ASSERT_EQ(list.hidDevices().size(), 2u);
        list.clear();
        EXPECT_TRUE(list.hidDevices().empty());
        std::vector<DeviceLevels> levels;
        EXPECT_EQ(list.getAllFirmwareLevels(levels), 5);  // the USB record went too
        list.clear();                                     // on empty sequences: only logs

        ASSERT_TRUE(list.enumerateHid());
        EXPECT_EQ(list.hidDevices().size(), 2u);
    }
    const std::vector<LogLine> lines = logLines();
    EXPECT_EQ(countLines(lines, "ZelHidDisplayList::clear()"), 3u);  // two calls + destructor
    EXPECT_EQ(countLines(lines, "KemoVideoFlash Destroyed"), 4u);
    EXPECT_EQ(countLines(lines, "KemoUSBTouchFlash Destroyed"), 1u);
    expectBalanced(lines);
}

TEST_F(ListTest, UsbTouchDeviceRecordFollowsTheMonitors) {
    sim::SimBus::instance().loadDefault();
    std::vector<DeviceLevels> levels;
    {
        ZelHidDisplayList list;
        ASSERT_TRUE(list.enumerateHid());
        // Only the touch controller's ids make an object.
        EXPECT_FALSE(list.addZelUsbFlash(0x03EB, 0x212D, 0x0102, L"X", L"Not-Used"));
        EXPECT_FALSE(list.addZelUsbFlash(0x0F66, 0x302C, 0x0102, L"X", L"Not-Used"));
        EXPECT_TRUE(list.addZelUsbFlash(0x03EB, 0x212C, 0x0102, L"Unknown", L"Not-Used"));
        EXPECT_EQ(list.hidDevices().size(), 2u);  // the mode operations never see it
        EXPECT_EQ(list.getAllFirmwareLevels(levels), 0);
    }
    ASSERT_EQ(levels.size(), 3u);
    EXPECT_EQ(levels[0].serial, L"41-A0001");
    EXPECT_EQ(levels[1].serial, L"41-A0002");
    EXPECT_EQ(levels[2].vid, 0x03EB);
    EXPECT_EQ(levels[2].pid, 0x212C);
    EXPECT_EQ(levels[2].serial, L"Unknown");

    const std::vector<LogLine> lines = logLines();
    EXPECT_EQ(countLines(lines, "ZelHidDisplayList::addZelUsbFlash"), 3u);
    EXPECT_EQ(countLines(lines, "KemoUSBTouchFlash Constructed"), 1u);
    expectBalanced(lines);
}

TEST_F(ListTest, TablesAsBuilt) {
    ZelHidDisplayList list;
    const SupportedIds& ids = list.supportedIds();
    ASSERT_EQ(ids.hidInterfaceIds.size(), 2u);
    EXPECT_TRUE(list.matchHidInterface(0x0F66, 0x302C, 0xFF45, 0xA000));
    EXPECT_TRUE(list.matchHidInterface(0x03EB, 0x212C, 0xFF00, 0x0001));
    // Every field must match: ids crossed between the entries do not.
    EXPECT_FALSE(list.matchHidInterface(0x0F66, 0x302C, 0xFF00, 0x0001));
    EXPECT_FALSE(list.matchHidInterface(0x03EB, 0x212C, 0xFF45, 0xA000));
    EXPECT_FALSE(list.matchHidInterface(0x0F66, 0x302C, 0xFF45, 0xA001));
    EXPECT_FALSE(list.matchHidInterface(0x04E7, 0x0030, 0xFF45, 0xA000));
    EXPECT_TRUE(ids.hubIds.empty());
    EXPECT_TRUE(ids.usbDeviceIds.empty());
    EXPECT_FALSE(list.isSupportedHub(0x04B3, 0x4675));
    EXPECT_FALSE(list.isSupportedUsbDevice(0x03EB, 0x212C));
}

TEST(HubPlacement, RuleForTheTouchScreenInterface) {
    struct Case {
        uint16_t vid, pid;
        bool hubFound;
        uint16_t hubVid, hubPid;
        bool accepted;
    };
    const Case cases[] = {
        {0x04E7, 0x0030, true, 0x04B3, 0x4675, true},    // below the monitor's own hub
        {0x04E7, 0x0030, true, 0x04B3, 0x4676, false},   // below another hub
        {0x04E7, 0x0030, true, 0x8087, 0x4675, false},   //
        {0x04E7, 0x0030, false, 0x04B3, 0x4675, false},  // no hub ancestor
        {0x04E7, 0x0031, false, 0, 0, true},             // the rule is for one pair only
        {0x04E8, 0x0030, false, 0, 0, true},             //
        {0x0F66, 0x302C, false, 0, 0, true},             // monitors are never refused
        {0x0F66, 0x302C, true, 0x8087, 0x0024, true},    //
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hubPlacementAccepts(c.vid, c.pid, c.hubFound, c.hubVid, c.hubPid), c.accepted)
            << std::hex << c.vid << ":" << c.pid << " hub " << c.hubVid << ":" << c.hubPid;
    }
}

// The rule on a simulated tree: a 0x04E7:0x0030 interface placed below different hubs.
TEST(HubPlacement, OnASimulatedTree) {
    sim::SimBus& bus = sim::SimBus::instance();
    bus.reset();
    bus.addMonitor(L"M1");  // brings the root hub and the monitor's hub 0x04B3:0x4675
    auto findNode = [&](const std::wstring& prefix) {
        for (size_t i = 0; i < bus.nodes.size(); ++i) {
            if (bus.nodes[i].instanceId.rfind(prefix, 0) == 0) {
                return static_cast<int>(i);
            }
        }
        return -1;
    };
    auto add = [&](const wchar_t* id, const wchar_t* description, int parent) {
        bus.nodes.push_back({id, description, parent, false, L""});
        return static_cast<int>(bus.nodes.size()) - 1;
    };
    // A touch interface: its USB device below `hub`, the HID node below that.
    auto touchBelow = [&](int hub) {
        const int usb = add(L"USB\\VID_04E7&PID_0030\\1", L"USB Composite Device", hub);
        return add(L"HID\\VID_04E7&PID_0030\\7&1", L"HID-compliant touch screen", usb);
    };
    auto accepted = [&](int node) {
        uint16_t hubVid = 0;
        uint16_t hubPid = 0;
        const bool found = bus.findHubAncestor(node, hubVid, hubPid);
        return hubPlacementAccepts(0x04E7, 0x0030, found, hubVid, hubPid);
    };
    const int monitorHub = findNode(L"USB\\VID_04B3&PID_4675\\");
    const int rootHub = findNode(L"USB\\ROOT_HUB30\\");
    ASSERT_GE(monitorHub, 0);
    ASSERT_GE(rootHub, 0);
    const int otherHub = add(L"USB\\VID_05E3&PID_0610\\5&9", L"Generic USB Hub", rootHub);
    const int controller = add(L"PCI\\VEN_1B21&DEV_1242\\4&1", L"USB Host Controller", -1);

    EXPECT_TRUE(accepted(touchBelow(monitorHub)));
    EXPECT_FALSE(accepted(touchBelow(otherHub)));
    EXPECT_FALSE(accepted(touchBelow(rootHub)));     // a hub, but without ids
    EXPECT_FALSE(accepted(touchBelow(controller)));  // no hub above it at all

    // The monitor's interface is listed wherever it sits: the rule is not its.
    const int monitorUsb = findNode(L"USB\\VID_0F66&PID_302C\\");
    ASSERT_GE(monitorUsb, 0);
    bus.nodes[static_cast<size_t>(monitorUsb)].parent = otherHub;
    {
        ASSERT_TRUE(HidLib::initialise());
        ZelHidDisplayList list;
        ASSERT_TRUE(list.enumerateHid());
        EXPECT_EQ(list.hidDevices().size(), 1u);
    }
    bus.reset();
}

}  // namespace
