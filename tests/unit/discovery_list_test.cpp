#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "discovery/ZelHidDisplayList.h"
#include "hid/HidLib.h"
#include "log/Log.h"
#include "sim/SimBus.h"
#include "tests/support/CaptureStdout.h"

namespace {

sim::SimBus& Bus() {
    return sim::SimBus::instance();
}

std::vector<std::wstring> Serials(const std::vector<DeviceLevels>& levels) {
    std::vector<std::wstring> serials;
    for (const DeviceLevels& record : levels) {
        serials.push_back(record.serial);
    }
    return serials;
}

const std::string kFound =
    "Debug\tZelHidDisplayList::enumerateHid - found supported flash chip - vid=0x";

// Every log line of a test goes to a file of its own, at the most detailed level.
class ListTest : public ::testing::Test {
protected:
    void SetUp() override {
        CloseLogHandler();
        saved = GetLogSettings();
        GetLogSettings().level = LogTrace;
        GetLogSettings().fileName = dir.file("discovery.log");
        Bus().reset();
        ASSERT_TRUE(HidLib::initialise());
    }
    void TearDown() override {
        CloseLogHandler();
        GetLogSettings() = saved;
        Bus().reset();
    }

    // Lines ending in "\t<part>" (part may start with "<level>\t"), or occurrences of part.
    size_t Count(const std::string& part, bool whole = true) {
        CloseLogHandler();  // the next log call appends to the same file
        std::string text = ReadFileBytes(dir.file("discovery.log"));
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        const std::string key = whole ? "\t" + part + "\n" : part;
        size_t n = 0;
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
            ++n;
        }
        return n;
    }

    // Every device object made is destroyed exactly once, base and derived part alike.
    void ExpectBalanced() {
        for (const std::string cls : {"KemoVideoFlash", "ZelHidFlash", "KemoUSBTouchFlash",
                                      "ZelUsbFlash", "ZelHidDisplayList"}) {
            EXPECT_EQ(Count(cls + " Constructed"), Count(cls + " Destroyed")) << cls;
        }
    }

    TempDir dir;
    CLogSettings saved;
};

TEST_F(ListTest, DefaultBusGivesTheTwoMonitorsInBusOrderAndClearDeletesThem) {
    Bus().loadDefault();
    {
        ZelHidDisplayList list;
        ASSERT_TRUE(list.enumerateHid());
        ASSERT_TRUE(list.enumerateUsb());
        EXPECT_TRUE(Bus().preparsed.empty());
        EXPECT_EQ(list.hidDevices().size(), 2u);
        ASSERT_TRUE(list.addZelUsbFlash(0x03EB, 0x212C, 0x0102, L"T1", L"Not-Used"));
        std::vector<DeviceLevels> levels;
        EXPECT_EQ(list.getAllFirmwareLevels(levels), 0);
        EXPECT_EQ(Serials(levels), (std::vector<std::wstring>{L"41-A0001", L"41-A0002", L"T1"}));
        list.clear();
        list.clear();
        std::vector<DeviceLevels> none;
        EXPECT_EQ(list.getAllFirmwareLevels(none), kDspCodeNoDevice);  // the USB one went too
    }
    EXPECT_EQ(Bus().openHandles, 0);
    // The second collection and the keyboard pass without a line; the touch gets no object.
    EXPECT_EQ(Count(kFound + "0f66, pid=0x302c, usage page=0xff45, usage=0xa000"), 2u);
    EXPECT_EQ(Count(kFound + "03eb, pid=0x212c, usage page=0xff00, usage=0x0001"), 1u);
    EXPECT_EQ(Count("found supported flash chip", false), 3u);
    EXPECT_EQ(Count("Debug\tZelHidDisplayList::clear()"), 3u);  // two calls and the destructor
    ExpectBalanced();
}

// A monitor whose initialise fails (its output reports are too short) is dropped.
TEST_F(ListTest, FirmwareLevelsOfNoneOneAndTwoMonitors) {
    std::vector<std::wstring> serials;
    for (size_t n = 0; n <= 2; ++n) {
        SCOPED_TRACE(n);
        Bus().reset();
        Bus().monitors[static_cast<size_t>(Bus().addMonitor(L"SHORT"))].outputReportLength = 100;
        if (n > 0) {
            serials.push_back(L"SER-" + std::to_wstring(n));
        }
        for (const std::wstring& serial : serials) {
            Bus().addMonitor(serial);
        }
        {
            ZelHidDisplayList list;
            ASSERT_TRUE(list.enumerateHid());
            std::vector<DeviceLevels> levels;
            EXPECT_EQ(list.getAllFirmwareLevels(levels), n == 0 ? kDspCodeNoDevice : 0);
            EXPECT_EQ(Serials(levels), serials);
        }
        EXPECT_TRUE(Bus().preparsed.empty());
    }
    EXPECT_EQ(Count("Error\tZelHidDisplayList::getAllFirmwareLevels() dspcode=5"), 1u);
    EXPECT_EQ(Count("KemoVideoFlash Constructed"), 6u);  // the failing one too
    ExpectBalanced();
}

// A 0x04E7:0x0030 interface counts only below the monitor's hub 0x04B3:0x4675.
TEST_F(ListTest, HubPlacementOnASimulatedTree) {
    auto add = [](const wchar_t* id, const wchar_t* description, int parent) {
        Bus().nodes.push_back({id, description, parent, false, L""});
        return static_cast<int>(Bus().nodes.size()) - 1;
    };
    auto touchAcceptedBelow = [&](int hub) {
        const int hid = add(L"HID\\VID_04E7&PID_0030\\7&1", L"HID-compliant touch screen", hub);
        uint16_t hubVid = 0, hubPid = 0;
        const bool found = Bus().findHubAncestor(hid, hubVid, hubPid);
        return hubPlacementAccepts(0x04E7, 0x0030, found, hubVid, hubPid);
    };
    const int controller = add(L"PCI\\VEN_1B21&DEV_1242\\4&1", L"USB Host Controller", -1);
    const int rootHub = add(L"USB\\ROOT_HUB30\\5&1", L"USB Root Hub", controller);
    EXPECT_TRUE(touchAcceptedBelow(add(L"USB\\VID_04B3&PID_4675\\6&1", L"USB Hub", rootHub)));
    EXPECT_FALSE(touchAcceptedBelow(add(L"USB\\VID_05E3&PID_0610\\6&2", L"USB Hub", rootHub)));
    EXPECT_FALSE(touchAcceptedBelow(rootHub));     // a hub, but without ids
    EXPECT_FALSE(touchAcceptedBelow(controller));  // no hub above it at all
    EXPECT_TRUE(hubPlacementAccepts(0x0F66, 0x302C, true, 0x05E3, 0x0610));  // monitors: anywhere
}

}  // namespace
