// The Linux walks in this process on umockdev machines, with tables of the test's own (the
// product's list no hub placement rule the bed could reach). main() restarts the program
// under umockdev's preload library, which libudev needs.
#include <gtest/gtest.h>
#include <umockdev.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "discovery/ZelHidDisplayList.h"
#include "discovery/linux/LinuxWalks.h"
#include "hid/HidLib.h"
#include "log/Log.h"
#include "platform/Text.h"
#include "tests/linux/bed_Machine.h"
#include "tests/support/ConsoleAndFiles.h"

namespace {

using bed::UsbDevice;
using bed::UsbInterface;

// A digitizer's descriptor (usage page 0x0D, usage 0x04): what the placement rule's
// 04e7:0030 interfaces declare here.
const char kTouchDescriptor[] = "050d0904a101150026ff007508090195088102c0";

std::string Hub(const std::string& path, uint16_t vid, uint16_t pid) {
    return UsbDevice(path, vid, pid, 0x0100, "09", "A: maxchild=4\n");
}

std::string Touch(const std::string& parent, uint16_t bus, int hidraw) {
    return bed::HidWithNode(parent, bus, 0x04E7, 0x0030, "", kTouchDescriptor, hidraw);
}

const std::string kPci = "/devices/pci0000:00/0000:00:14.0";
const std::string kRoot = kPci + "/usb1";
const std::string kHub = kRoot + "/1-2";       // 04b3:4675, the placement rule's hub
const std::string kOtherHub = kRoot + "/1-3";  // 05e3:0610
const std::string kHubs = "P: " + kPci + "\nE: SUBSYSTEM=pci\n\n" + Hub(kRoot, 0x1d6b, 0x0002) +
                          Hub(kHub, 0x04b3, 0x4675);

class WalkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("UMOCKDEV_DIR"), nullptr) << "the testbed sets it";
        CloseLogHandler();
        GetLogSettings().level = LogTrace;
        GetLogSettings().fileName = dir.file("walk.log");
        ASSERT_TRUE(HidLib::initialise());
    }
    void TearDown() override {
        CloseLogHandler();
        GetLogSettings() = CLogSettings{};
    }

    void Add(const std::string& text) {
        GError* error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(bed, text.c_str(), &error))
            << (error != nullptr ? error->message : "") << "\n"
            << text;
    }

    // Log lines ending in "\t<part>", or occurrences of part.
    size_t Count(const std::string& part, bool whole = true) {
        CloseLogHandler();
        std::string text = ReadFileBytes(dir.file("walk.log"));  // lines end in "\r\n"
        std::erase(text, '\r');
        const std::string key = whole ? "\t" + part + "\n" : part;
        size_t n = 0;
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
            ++n;
        }
        return n;
    }

    // A USB touch screen 04e7:0030 on the rule's hub, one on another hub, a Bluetooth one
    // paired with a USB dongle on the rule's hub, and an I2C one.
    void AddPlacementMachine() {
        Add(kHubs + Hub(kOtherHub, 0x05e3, 0x0610));
        int hidraw = 0;
        for (const std::string& usb : {kHub + "/1-2.1", kOtherHub + "/1-3.1"}) {
            const std::string interface = usb + usb.substr(usb.rfind('/')) + ":1.0";
            Add(UsbDevice(usb, 0x04e7, 0x0030, 0x0100, "00") +
                UsbInterface(interface, 0, "usbhid") + Touch(interface, 3, hidraw++));
        }
        const std::string dongle = kHub + "/1-2.2";
        const std::string host = dongle + "/1-2.2:1.0/bluetooth/hci0";
        Add(UsbDevice(dongle, 0x0a12, 0x0001, 0x0100, "e0") +
            UsbInterface(dongle + "/1-2.2:1.0", 0, "btusb") + "P: " + host +
            "\nE: SUBSYSTEM=bluetooth\nE: DEVTYPE=host\n\nP: " + host +
            "/hci0:256\nE: SUBSYSTEM=bluetooth\nE: DEVTYPE=link\n\n" +
            Touch(host + "/hci0:256", 5, 2));
        Add("P: /devices/platform/i2c-0\nE: SUBSYSTEM=platform\n\n" +
            Touch("/devices/platform/i2c-0", 0x18, 3));
    }

    UMockdevTestbed* bed = umockdev_testbed_new();
    TempDir dir;

public:
    ~WalkTest() override { g_object_unref(bed); }
};

// The rule counts a 04e7:0030 interface only below the hub 04b3:4675, and only a USB device
// hangs below a hub: the Bluetooth one behind a dongle on that very hub is no more accepted
// than the I2C one. Every one of them is found.
TEST_F(WalkTest, HubPlacementOnlyForUsbDevicesBelowTheHub) {
    AddPlacementMachine();
    SupportedIds ids;
    ids.hidInterfaceIds = {{0x04E7, 0x0030, 0x000D, 0x0004}};
    {
        ZelHidDisplayList list(discovery_linux::Walks(), ids);
        ASSERT_TRUE(list.enumerateHid());
        EXPECT_TRUE(list.hidDevices().empty());  // no object for such an interface
    }
    EXPECT_EQ(Count("ZelHidDisplayList::enumerateHid - found supported flash chip - vid=0x04e7, "
                    "pid=0x0030, usage page=0x000d, usage=0x0004",
                    false),
              4u);
    // Accepted: the USB one on the rule's hub alone.
    EXPECT_EQ(Count("Debug\tZelHidDisplayList::addZelHidFlash"), 1u);
    EXPECT_EQ(Count("continuing", false), 0u);
}

struct PortCase {
    const char* name;
    std::string serialBytes;    // the serial attribute's bytes; empty: none
    const char* driverOfFirst;  // of interface 1.0; interface 1.1 is free unless bothBound
    bool bothBound;
    bool oneInterface;
    const wchar_t* serial;  // the record's, null when the device is passed over
};

// The serial as the USB walk reads it is decoded from UTF-8 (malformed bytes become U+FFFD),
// nothing is cut inside a sequence, and the text ends after 127 UTF-16 units without
// splitting a pair. A port counts only with one of its first two interfaces free for user
// space.
TEST_F(WalkTest, UsbPortsOfAListedHub) {
    std::string euros, emoji;
    std::wstring euroText(100, L'\u20AC'), emojiText;
    for (int k = 0; k < 100; ++k) {
        euros += "\xE2\x82\xAC", emoji += k < 64 ? "\xF0\x9F\x98\x80" : "";
        emojiText += k < 63 ? L"\U0001F600" : L"";
    }
    const PortCase cases[] = {
        {"no serial", "", "usbhid", false, false, L"Unknown"},
        {"malformed", "A\xFF\xC3Z\n", "usbhid", false, false, L"A\uFFFD\uFFFDZ"},
        {"300 bytes", euros + "\n", "usbhid", false, false, euroText.c_str()},
        {"128 units", emoji + "\n", "usbhid", false, false, emojiText.c_str()},
        {"the first interface free", "", "", true, false, L"Unknown"},
        {"both bound", "", "usbhid", true, false, nullptr},
        {"one interface", "", "", false, true, nullptr},
    };
    SupportedIds ids;
    ids.hubIds = {{0x04B3, 0x4675}};
    ids.usbDeviceIds = {{0x03EB, 0x212C}};
    for (const PortCase& c : cases) {
        SCOPED_TRACE(c.name);
        g_object_unref(bed);
        bed = umockdev_testbed_new();
        CloseLogHandler();
        std::remove(dir.file("walk.log").c_str());
        const std::string touch = kHub + "/1-2.1";
        Add(kHubs + UsbDevice(touch, 0x03eb, 0x212c, 0x0100, "00") +
            UsbInterface(touch + "/1-2.1:1.0", 0, c.driverOfFirst) +
            (c.oneInterface ? ""
                            : UsbInterface(touch + "/1-2.1:1.1", 1, c.bothBound ? "usbhid" : "")) +
            UsbDevice(kHub + "/1-2.3", 0x046d, 0xc31c, 0x0100, "00"));
        if (!c.serialBytes.empty()) {  // bytes as the kernel has them, valid UTF-8 or not
            std::vector<guint8> bytes(c.serialBytes.begin(), c.serialBytes.end());
            umockdev_testbed_set_attribute_binary(bed, ("/sys" + touch).c_str(), "serial",
                                                  bytes.data(), static_cast<gint>(bytes.size()));
        }
        std::vector<DeviceLevels> levels;
        {
            ZelHidDisplayList list(discovery_linux::Walks(), ids);
            ASSERT_TRUE(list.enumerateUsb());
            list.getAllFirmwareLevels(levels);
        }
        ASSERT_EQ(levels.size(), c.serial != nullptr ? 1u : 0u);
        if (c.serial != nullptr) {
            EXPECT_EQ(levels[0].serial, c.serial);
            EXPECT_EQ(levels[0].vid, 0x03EB);
        }
        // Every port of the hub, whatever is attached; the root hub passed over.
        EXPECT_EQ(Count("Debug\t  Port: 1 - Device: 03eb:212c 0100 - Connection Status = 1"), 1u);
        EXPECT_EQ(Count("Debug\t  Port: 2 - Device: 0000:0000 0000 - Connection Status = 0"), 1u);
        EXPECT_EQ(Count("Debug\t  Port: 3 - Device: 046d:c31c 0100 - Connection Status = 1"), 1u);
        EXPECT_EQ(Count("  Port: ", false), 4u);
        EXPECT_EQ(Count("it may be a root hub anyway", false), 1u);
        EXPECT_EQ(Count("Debug\tZelHidDisplayList::enumerate - No USB iSerialNumber string found"),
                  c.serialBytes.empty() ? 1u : 0u);
    }
}

}  // namespace

// Runs the tests with umockdev's preload library, starting the program again with it when
// it was started without.
int main(int argc, char** argv) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
        bed::PrependToEnvironment("LD_PRELOAD", "libumockdev-preload.so.0", " ");
        bed::PrependToEnvironment("ASAN_OPTIONS", "verify_asan_link_order=0", ":");
        execv("/proc/self/exe", argv);
        std::perror("execv");
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
