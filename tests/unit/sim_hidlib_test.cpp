// The simulated HID library table and the default machine it serves.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "discovery/ZelHidDisplayList.h"
#include "hid/HidLib.h"
#include "sim/SimBus.h"
#include "tests/support/CaptureStdout.h"

namespace {

sim::SimBus& Bus() {
    return sim::SimBus::instance();
}

class SimHidLibTest : public ::testing::Test {
protected:
    void SetUp() override {
        Bus().reset();
        ASSERT_TRUE(HidLib::initialise());
    }
    void TearDown() override {
        Bus().reset();
        ASSERT_TRUE(HidLib::initialise());
    }
    const HidFunctions& Hid() { return HidLib::functions(); }
    HidHandle Handle(int index) { return &Bus().interfaces[static_cast<size_t>(index)]; }
};

// Serial numbers leave as UTF-16 little-endian code units with a terminator, whatever the
// width of wchar_t; a buffer too small gets nothing.
TEST_F(SimHidLibTest, SerialNumberStringIsUtf16LittleEndian) {
    const struct {
        std::wstring serial;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {L"41-A0001", {'4', 0, '1', 0, '-', 0, 'A', 0, '0', 0, '0', 0, '0', 0, '1', 0, 0, 0}},
        {L"", {0, 0}},
        {L"\u00e9\u20ac", {0xE9, 0x00, 0xAC, 0x20, 0, 0}},
    };
    for (const auto& c : cases) {
        Bus().reset();
        const int iface = Bus().monitorInterface(Bus().addMonitor(c.serial));
        std::vector<uint8_t> buffer(256, 0xEE);
        ASSERT_TRUE(Hid().HidD_GetSerialNumberString(Handle(iface), buffer.data(), 256));
        EXPECT_EQ(std::vector<uint8_t>(buffer.begin(),
                                       buffer.begin() + static_cast<long>(c.bytes.size())),
                  c.bytes);
        EXPECT_EQ(buffer[c.bytes.size()], 0xEE);

        std::vector<uint8_t> tight(c.bytes.size() - 1, 0xEE);
        EXPECT_FALSE(Hid().HidD_GetSerialNumberString(Handle(iface), tight.data(),
                                                      static_cast<uint32_t>(tight.size())));
        EXPECT_EQ(tight, std::vector<uint8_t>(c.bytes.size() - 1, 0xEE));
    }
    if (sizeof(wchar_t) == 4) {
        Bus().reset();
        const int iface = Bus().monitorInterface(
            Bus().addMonitor(std::wstring(1, static_cast<wchar_t>(0x1F600))));
        uint8_t buffer[8] = {};
        ASSERT_TRUE(Hid().HidD_GetSerialNumberString(Handle(iface), buffer, 8));
        const uint8_t want[6] = {0x3D, 0xD8, 0x00, 0xDE, 0, 0};
        EXPECT_EQ(std::memcmp(buffer, want, 6), 0);
    }
}

// The value capabilities carry the report id; the output one has the command usage
// (collection usage | 1) unless the monitor is set not to match.
TEST_F(SimHidLibTest, CapabilitiesFollowTheMonitorSettings) {
    for (bool match : {true, false}) {
        Bus().reset();
        const int m = Bus().addMonitor(L"41-A0001");
        sim::SimMonitor& monitor = Bus().monitors[static_cast<size_t>(m)];
        monitor.reportId = 0x07;
        monitor.outputValueCapsMatch = match;
        monitor.outputReportLength = 65;
        monitor.featureReportLength = 22;
        HidPreparsedData preparsed = nullptr;
        ASSERT_TRUE(Hid().HidD_GetPreparsedData(Handle(Bus().monitorInterface(m)), &preparsed));
        HidCaps caps{};
        ASSERT_EQ(Hid().HidP_GetCaps(preparsed, &caps), kHidpStatusSuccess);
        EXPECT_EQ(caps.UsagePage, 0xFF45);
        EXPECT_EQ(caps.Usage, 0xA000);
        EXPECT_EQ(caps.OutputReportByteLength, 65);
        EXPECT_EQ(caps.FeatureReportByteLength, 22);
        EXPECT_EQ(caps.NumberOutputValueCaps, 1);

        const struct {
            int type;
            uint16_t usage;
        } kinds[] = {{kHidpInput, 0xA002},
                     {kHidpOutput, static_cast<uint16_t>(match ? 0xA001 : 0xA002)},
                     {kHidpFeature, 0xA003}};
        for (const auto& k : kinds) {
            HidValueCaps value{};
            uint16_t count = 1;
            ASSERT_EQ(Hid().HidP_GetValueCaps(k.type, &value, &count, preparsed),
                      kHidpStatusSuccess);
            EXPECT_EQ(count, 1);
            EXPECT_EQ(value.UsagePage, 0xFF45);
            EXPECT_EQ(value.ReportID, 0x07);
            EXPECT_EQ(value.IsRange, 0);
            EXPECT_EQ(value.NotRange.Usage, k.usage) << k.type;
        }
        EXPECT_TRUE(Hid().HidD_FreePreparsedData(preparsed));
        EXPECT_TRUE(Bus().preparsed.empty());
    }
}

TEST_F(SimHidLibTest, BadHandlesAndPreparsedDataAreRefused) {
    Bus().loadDefault();
    HidAttributes attributes{};
    HidPreparsedData preparsed = nullptr;
    uint8_t buffer[64] = {};
    EXPECT_FALSE(Hid().HidD_GetAttributes(InvalidHidHandle(), &attributes));
    EXPECT_FALSE(Hid().HidD_GetPreparsedData(nullptr, &preparsed));
    EXPECT_EQ(preparsed, nullptr);
    EXPECT_FALSE(Hid().HidD_GetFeature(buffer, buffer, 64));
    EXPECT_FALSE(Hid().HidD_FlushQueue(InvalidHidHandle()));
    EXPECT_EQ(Bus().lastError, sim::kErrorInvalidHandle);
    HidCaps caps{};
    EXPECT_NE(Hid().HidP_GetCaps(buffer, &caps), kHidpStatusSuccess);
    HidValueCaps value{};
    uint16_t count = 1;
    EXPECT_NE(Hid().HidP_GetValueCaps(kHidpOutput, &value, &count, buffer), kHidpStatusSuccess);

    ASSERT_TRUE(Hid().HidD_GetPreparsedData(Handle(0), &preparsed));
    EXPECT_TRUE(Hid().HidD_FreePreparsedData(preparsed));
    EXPECT_FALSE(Hid().HidD_FreePreparsedData(preparsed));  // a second free is caught
}

TEST_F(SimHidLibTest, MissingLibraryFailsTheBindingUntilItIsBack) {
    sim::UnbindHidLibrary();
    Bus().hidLibraryAvailable = false;
    EXPECT_FALSE(HidLib::initialise());
    EXPECT_FALSE(HidLib::isInitialised());
    Bus().hidLibraryAvailable = true;
    EXPECT_TRUE(HidLib::initialise());
    EXPECT_TRUE(HidLib::isInitialised());
    EXPECT_NE(HidLib::functions().HidD_SetOutputReport, nullptr);
}

// The hub above an interface, as the placement rule sees it on the simulated tree.
TEST(SimMachine, HubAboveADeviceNode) {
    Bus().loadDefault();
    const auto nodeOf = [](int interfaceIndex) {
        return Bus().interfaces[static_cast<size_t>(interfaceIndex)].parentNode;
    };
    uint16_t vid = 0;
    uint16_t pid = 0;
    ASSERT_TRUE(Bus().findHubAncestor(nodeOf(Bus().monitorInterface(1)), vid, pid));
    EXPECT_EQ(vid, 0x04B3);
    EXPECT_EQ(pid, 0x4675);
    // The keyboard sits below the root hub, whose instance id carries no ids.
    EXPECT_FALSE(Bus().findHubAncestor(nodeOf(0), vid, pid));

    Bus().reset();
    auto add = [](const wchar_t* id, const wchar_t* description, int parent) {
        Bus().nodes.push_back({id, description, parent, false, L""});
        return static_cast<int>(Bus().nodes.size()) - 1;
    };
    const int root = add(L"HTREE\\ROOT\\0", L"Computer", -1);
    const int pci = add(L"PCI\\VEN_8086&DEV_A36D\\3&1", L"Controller", root);
    const int usb = add(L"USB\\VID_04E7&PID_0030\\9", L"USB Composite Device", pci);
    const int hid = add(L"HID\\VID_04E7&PID_0030\\7&1", L"Touch", usb);
    const int other = add(L"USB\\VID_05E3&PID_0608\\5&1", L"USB 2.0 Hub", pci);
    const int below = add(L"USB\\VID_04E7&PID_0030\\8", L"USB Composite Device", other);
    const int hid2 = add(L"HID\\VID_04E7&PID_0030\\7&2", L"Touch", below);
    const int loopA = add(L"X\\A\\1", L"A", 8);
    add(L"X\\B\\1", L"B", loopA);
    EXPECT_FALSE(Bus().findHubAncestor(hid, vid, pid));  // no hub up to depth 1
    ASSERT_TRUE(Bus().findHubAncestor(hid2, vid, pid));
    EXPECT_EQ(vid, 0x05E3);
    EXPECT_EQ(pid, 0x0608);
    EXPECT_FALSE(Bus().findHubAncestor(loopA, vid, pid));  // a cycle ends, too
    EXPECT_FALSE(Bus().findHubAncestor(-1, vid, pid));
    EXPECT_FALSE(Bus().findHubAncestor(99, vid, pid));
    Bus().reset();
}

// Walk failures scripted on the bus end the walks as on Windows; only the stopped HID
// enumeration is printed.
TEST(SimMachine, ScriptedWalkFailures) {
    const struct {
        uint32_t sim::SimBus::*field;
        bool hidWalks;
        const char* printed;
    } cases[] = {
        {&sim::SimBus::hidSetError, false, ""},
        {&sim::SimBus::hidWalkError, false,
         "ZelHidDisplayList::enumerateHid - SetupDiEnumDeviceInterfaces failed, "
         "error=0x0000000d\n"},
        {&sim::SimBus::usbSetError, true, ""},
        {&sim::SimBus::usbWalkError, true, ""},
    };
    for (const auto& c : cases) {
        Bus().loadDefault();
        ASSERT_TRUE(HidLib::initialise());
        Bus().*c.field = 13;
        CaptureOutput capture;
        {
            ZelHidDisplayList list;
            EXPECT_EQ(list.enumerateHid(), c.hidWalks);
            EXPECT_FALSE(c.hidWalks && list.enumerateUsb());
        }
        EXPECT_EQ(capture.out(), c.printed);
        EXPECT_EQ(Bus().openHandles, 0);
        EXPECT_TRUE(Bus().preparsed.empty());
    }
    Bus().reset();
}

}  // namespace
