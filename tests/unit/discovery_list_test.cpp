#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "discovery/ZelHidDisplayList.h"
#include "hid/HidLib.h"
#include "log/Log.h"
#include "platform/Text.h"
#include "sim/SimBus.h"
#include "tests/support/ConsoleAndFiles.h"

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

    void NewLog() {
        CloseLogHandler();
        std::remove(dir.file("discovery.log").c_str());
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
    EXPECT_EQ(Count("Error\tZelHidDisplayList::getAllFirmwareLevels() dspcode=5"), 1u);
    EXPECT_EQ(Bus().openHandles, 0);
    // The second collection and the keyboard pass without a line; the touch gets no object.
    EXPECT_EQ(Count(kFound + "0f66, pid=0x302c, usage page=0xff45, usage=0xa000"), 2u);
    EXPECT_EQ(Count(kFound + "03eb, pid=0x212c, usage page=0xff00, usage=0x0001"), 1u);
    EXPECT_EQ(Count("found supported flash chip", false), 3u);
    EXPECT_EQ(Count("Debug\tZelHidDisplayList::clear()"), 3u);  // two calls and the destructor
    ExpectBalanced();
}

int AddNode(const std::wstring& id, const wchar_t* description, int parent) {
    sim::SimNode node;
    node.instanceId = id;
    node.description = description;
    node.parent = parent;
    Bus().nodes.push_back(node);
    return static_cast<int>(Bus().nodes.size()) - 1;
}

// A 0x04E7:0x0030 interface counts only below the monitor's hub 0x04B3:0x4675.
TEST_F(ListTest, HubPlacementOnASimulatedTree) {
    auto touchAcceptedBelow = [&](int hub) {
        const int hid = AddNode(L"HID\\VID_04E7&PID_0030\\7&1", L"HID-compliant touch screen", hub);
        uint16_t hubVid = 0, hubPid = 0;
        const bool found = Bus().findHubAncestor(hid, hubVid, hubPid);
        return hubPlacementAccepts(0x04E7, 0x0030, found, hubVid, hubPid);
    };
    const int controller = AddNode(L"PCI\\VEN_1B21&DEV_1242\\4&1", L"USB Host Controller", -1);
    const int rootHub = AddNode(L"USB\\ROOT_HUB30\\5&1", L"USB Root Hub", controller);
    EXPECT_TRUE(touchAcceptedBelow(AddNode(L"USB\\VID_04B3&PID_4675\\6&1", L"USB Hub", rootHub)));
    EXPECT_FALSE(touchAcceptedBelow(AddNode(L"USB\\VID_05E3&PID_0610\\6&2", L"USB Hub", rootHub)));
    EXPECT_FALSE(touchAcceptedBelow(rootHub));     // a hub, but without ids
    EXPECT_FALSE(touchAcceptedBelow(controller));  // no hub above it at all
    EXPECT_TRUE(hubPlacementAccepts(0x0F66, 0x302C, true, 0x05E3, 0x0610));  // monitors: anywhere
}

// The hub must match in vendor and product both: a hub that shares only one of them with
// 0x04B3:0x4675 is another hub. Through a walk whose table lists 0x04E7:0x0030 (no product
// entry does), where only the interface below the right hub reaches the list.
TEST_F(ListTest, HubPlacementWantsBothIdsOfTheHub) {
    const struct {
        uint16_t vid, pid;
    } hubs[] = {
        {0x04B3, 0x4675}, {0x04B3, 0x4674}, {0x04B2, 0x4675}, {0x0000, 0x4675}, {0x04B3, 0}};
    for (const auto& hub : hubs) {
        wchar_t id[64];
        std::swprintf(id, 64, L"USB\\VID_%04X&PID_%04X\\6&%u", hub.vid, hub.pid,
                      static_cast<unsigned>(Bus().nodes.size()));
        const int hubNode = AddNode(id, L"Generic USB Hub", -1);
        sim::SimInterface touch;
        touch.path = L"\\\\?\\hid#vid_04e7&pid_0030#" + std::to_wstring(hubNode);
        touch.vid = 0x04E7;
        touch.pid = 0x0030;
        touch.usagePage = 0x000D;
        touch.usage = 0x0004;
        touch.parentNode = AddNode(std::wstring(L"HID\\VID_04E7&PID_0030\\7&") + id,
                                   L"HID-compliant touch screen", hubNode);
        Bus().interfaces.push_back(touch);
    }
    SupportedIds ids;
    ids.hidInterfaceIds = {{0x04E7, 0x0030, 0x000D, 0x0004}};
    {
        ZelHidDisplayList list(ids);
        ASSERT_TRUE(list.enumerateHid());
        EXPECT_TRUE(list.hidDevices().empty());  // no object for it in any case
    }
    EXPECT_EQ(Count(kFound + "04e7, pid=0x0030, usage page=0x000d, usage=0x0004"), 5u);
    EXPECT_EQ(Count("Debug\tZelHidDisplayList::addZelHidFlash"), 1u);
}

sim::SimInterface& MonitorInterface(int monitor) {
    return Bus().interfaces[static_cast<size_t>(Bus().monitorInterface(monitor))];
}

// An interface whose preparsed data, attributes or capabilities cannot be read is passed
// over without a line, and what was taken for it is given back.
TEST_F(ListTest, UnreadableInterfacesArePassedOver) {
    const struct {
        const char* name;
        void (*spoil)(sim::SimInterface&);
    } cases[] = {
        {"preparsed data", [](sim::SimInterface& i) { i.preparsedDataFails = true; }},
        {"attributes", [](sim::SimInterface& i) { i.attributesFail = true; }},
        {"caps", [](sim::SimInterface& i) { i.capsFail = true; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NewLog();
        Bus().loadDefault();
        c.spoil(MonitorInterface(0));
        {
            ZelHidDisplayList list;
            ASSERT_TRUE(list.enumerateHid());
            std::vector<DeviceLevels> levels;
            list.getAllFirmwareLevels(levels);
            EXPECT_EQ(Serials(levels), std::vector<std::wstring>{L"41-A0002"});
        }
        // The touch interface and the other monitor.
        EXPECT_EQ(Count("found supported flash chip", false), 2u);
        EXPECT_TRUE(Bus().preparsed.empty());
        EXPECT_EQ(Bus().openHandles, 0);
        EXPECT_EQ(Count("continuing", false), 0u);
        ExpectBalanced();
    }
}

int NodeOf(const std::wstring& instancePrefix) {
    for (size_t i = 0; i < Bus().nodes.size(); ++i) {
        if (Bus().nodes[i].instanceId.rfind(instancePrefix, 0) == 0) {
            return static_cast<int>(i);
        }
    }
    ADD_FAILURE() << "no node " << Narrow(instancePrefix);
    return 0;
}

sim::SimNode& Node(const std::wstring& instancePrefix) {
    return Bus().nodes[static_cast<size_t>(NodeOf(instancePrefix))];
}

const wchar_t kTouchUsb[] = L"USB\\VID_03EB&PID_212C\\";
const wchar_t kTouchHidFunction[] = L"USB\\VID_03EB&PID_212C&MI_00\\";
const wchar_t kTouchWinUsbFunction[] = L"USB\\VID_03EB&PID_212C&MI_01\\";
const char kTouchPort[] = "Debug\t  Port: 1 - Device: 03eb:212c 0100 - Connection Status = 1";

// The USB hub walk with the external hub and the touch controller listed, as a future table
// might list them: a port counts only when its device is connected, is found in the device
// tree by its driver key and has one of its first two functions bound to WinUSB.
TEST_F(ListTest, UsbPortsCountOnlyWhenConnectedFoundByDriverKeyAndOnWinUsb) {
    const struct {
        const char* name;
        void (*change)();
        const wchar_t* serial;  // of the touch device's record, null when it has none
        const char* line;       // a line the walk writes for the touch's port
    } cases[] = {
        {"as built", [] {}, L"Unknown",
         "Debug\tZelHidDisplayList::enumerate - No USB iSerialNumber string found"},
        {"with a serial number",
         [] { Node(kTouchUsb).instanceId = std::wstring(kTouchUsb) + L"T0042"; }, L"T0042",
         kTouchPort},
        {"serial request fails",
         [] {
             sim::SimNode& n = Node(kTouchUsb);
             n.instanceId = std::wstring(kTouchUsb) + L"T0042";
             n.serialRequestFails = true;
         },
         L"Unknown",
         "Error\tZelHidDisplayList::enumerate - IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION "
         "failed for Hub, error=0x0000001f - policy is to carry on and use K52 if available ..."},
        {"not connected",
         [] {
             Node(kTouchUsb).connectionStatus = 2;
             Node(kTouchUsb).bcdDevice = 0x0207;
         },
         nullptr, "Debug\t  Port: 1 - Device: 03eb:212c 0207 - Connection Status = 2"},
        {"driver key request fails", [] { Node(kTouchUsb).driverKeyRequestFails = true; }, nullptr,
         "Error\tZelHidDisplayList::enumerate - IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME "
         "failed for Hub, error=0x0000001f - continuing ..."},
        {"no driver key in the tree", [] { Node(kTouchUsb).driverKey.clear(); }, nullptr,
         kTouchPort},
        // The keyboard comes first in the tree, and has a single function.
        {"the key finds another node",
         [] { Node(kTouchUsb).driverKey = Node(L"USB\\VID_046D&PID_C31C\\").driverKey; }, nullptr,
         kTouchPort},
        {"no WinUSB function", [] { Node(kTouchWinUsbFunction).service = L"HidUsb"; }, nullptr,
         kTouchPort},
        {"WinUSB on the first function",
         [] {
             Node(kTouchHidFunction).service = L"WinUSB";
             Node(kTouchWinUsbFunction).service = L"HidUsb";
         },
         L"Unknown", kTouchPort},
        {"a service not readable", [] { Node(kTouchHidFunction).service.clear(); }, nullptr,
         kTouchPort},
        {"a single function, on WinUSB",
         [] {
             Node(kTouchHidFunction).service = L"WinUSB";
             Node(kTouchWinUsbFunction).parent = NodeOf(kTouchHidFunction);
         },
         nullptr, kTouchPort},
    };
    SupportedIds ids = ZelHidDisplayList().supportedIds();
    ids.hubIds = {{0x04B3, 0x4675}};
    ids.usbDeviceIds = {{0x03EB, 0x212C}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NewLog();
        Bus().loadDefault();
        c.change();
        std::vector<DeviceLevels> levels;
        {
            ZelHidDisplayList list(ids);
            ASSERT_TRUE(list.enumerateHid());
            ASSERT_TRUE(list.enumerateUsb());
            list.getAllFirmwareLevels(levels);
        }
        std::vector<std::wstring> serials{L"41-A0001", L"41-A0002"};
        if (c.serial != nullptr) {
            serials.push_back(c.serial);
        }
        EXPECT_EQ(Serials(levels), serials);
        EXPECT_EQ(Count(c.line), 1u);
        // Every port of the external hub, whatever is attached: the touch controller, two
        // monitors and an empty port; the root hub is passed over.
        EXPECT_EQ(Count("  Port: ", false), 4u);
        EXPECT_EQ(Count("Debug\t  Port: 4 - Device: 0000:0000 0000 - Connection Status = 0"), 1u);
        EXPECT_EQ(Count("it may be a root hub anyway", false), 1u);
        ExpectBalanced();
    }
}

}  // namespace
