// The bounded reads of sysfs text the Linux walks rely on.
#include <gtest/gtest.h>

#include <string>

#include "discovery/linux/Udev.h"

namespace {

TEST(LinuxWalkText, HexTakesExactlyTheDigitsSysfsWrites) {
    const struct {
        const char* text;
        size_t digits;
        bool ok;
        uint16_t value;
    } cases[] = {
        {"0f66", 4, true, 0x0F66}, {"302C", 4, true, 0x302C}, {"09", 2, true, 0x09},
        {"9", 2, false, 0},        {"0f666", 4, false, 0},    {"0x66", 4, false, 0},
        {"", 4, false, 0},         {"0f6 ", 4, false, 0},     {"ffff", 4, true, 0xFFFF},
        {"12345", 5, false, 0},    {"0g66", 4, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        uint16_t value = 0xAAAA;
        EXPECT_EQ(discovery_linux::ParseHex(c.text, c.digits, value), c.ok);
        EXPECT_EQ(value, c.ok ? c.value : 0xAAAA);
    }
}

TEST(LinuxWalkText, PortIsTheLastNumberOfTheDeviceName) {
    const struct {
        const char* name;
        int port;
    } cases[] = {
        {"1-2.3", 3},   {"1-4", 4},      {"3-1.4.12", 12}, {"usb1", 0}, {"1-2.", 0},
        {"1-2.256", 0}, {"1-2.1000", 0}, {"1-2.x", 0},     {"", 0},     {"1-2.255", 255},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(discovery_linux::UsbPortOf(c.name), c.port);
    }
}

// HID_ID as the kernel writes it (bus, vendor and product in eight hex digits each), and
// nothing that is not one.
TEST(LinuxWalkText, HidIdIsBusVendorAndProduct) {
    const struct {
        const char* text;
        bool ok;
        uint32_t bus;
        uint16_t vid, pid;
    } cases[] = {
        {"0003:00000F66:0000302C", true, 3, 0x0F66, 0x302C},
        {"0005:000004E7:00000030", true, 5, 0x04E7, 0x0030},
        {"0018:06CB:7E7E", true, 0x18, 0x06CB, 0x7E7E},
        {"0003:00010F66:0000302C", false, 0, 0, 0},  // beyond 16 bits
        {"0003:00000F66", false, 0, 0, 0},
        {"0003:00000F66:0000302C:1", false, 0, 0, 0},
        {"0003::0000302C", false, 0, 0, 0},
        {"0003:00000F66:", false, 0, 0, 0},
        {"0003:000000000F66:0000302C", false, 0, 0, 0},
        {"0003:00000F6G:0000302C", false, 0, 0, 0},
        {"", false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        uint32_t bus = 0xAA;
        uint16_t vid = 0xAAAA;
        uint16_t pid = 0xAAAA;
        EXPECT_EQ(discovery_linux::ParseHidId(c.text, bus, vid, pid), c.ok);
        if (c.ok) {
            EXPECT_EQ(bus, c.bus);
            EXPECT_EQ(vid, c.vid);
            EXPECT_EQ(pid, c.pid);
        }
    }
}

}  // namespace
