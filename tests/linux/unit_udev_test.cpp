// The bounded reads of sysfs text the Linux walks rely on: exactly the forms the kernel
// writes, and nothing that only looks like one.
#include <gtest/gtest.h>

#include <string>

#include "discovery/linux/Udev.h"

namespace {

TEST(LinuxWalkText, HexDigitsPortsAndHidIds) {
    const struct {
        const char* text;
        size_t digits;
        int value = -1;  // -1: refused
    } hex[] = {
        {"0f66", 4, 0x0F66}, {"302C", 4, 0x302C}, {"09", 2, 0x09}, {"ffff", 4, 0xFFFF},
        {"9", 2, -1},        {"0f666", 4, -1},    {"0x66", 4, -1}, {"", 4, -1},
        {"0f6 ", 4, -1},     {"12345", 5, -1},    {"0g66", 4, -1},
    };
    for (const auto& c : hex) {
        uint16_t value = 0xAAAA;
        EXPECT_EQ(discovery_linux::ParseHex(c.text, c.digits, value), c.value >= 0) << c.text;
        EXPECT_EQ(value, c.value >= 0 ? c.value : 0xAAAA) << c.text;
    }

    // The port is the last number of the device's name.
    const std::pair<const char*, int> ports[] = {
        {"1-2.3", 3},   {"1-4", 4},      {"3-1.4.12", 12}, {"usb1", 0}, {"1-2.", 0},
        {"1-2.256", 0}, {"1-2.1000", 0}, {"1-2.x", 0},     {"", 0},     {"1-2.255", 255},
    };
    for (const auto& [name, port] : ports) {
        EXPECT_EQ(discovery_linux::UsbPortOf(name), port) << name;
    }

    // HID_ID: bus, vendor and product in eight hex digits each.
    const struct {
        const char* text;
        uint32_t bus = 0;  // 0: refused
        uint16_t vid = 0, pid = 0;
    } ids[] = {
        {"0003:00000F66:0000302C", 3, 0x0F66, 0x302C},
        {"0005:000004E7:00000030", 5, 0x04E7, 0x0030},
        {"0018:06CB:7E7E", 0x18, 0x06CB, 0x7E7E},
        {"0003:00010F66:0000302C"},  // beyond 16 bits
        {"0003:00000F66"},
        {"0003:00000F66:0000302C:1"},
        {"0003::0000302C"},
        {"0003:00000F66:"},
        {"0003:000000000F66:0000302C"},
        {"0003:00000F6G:0000302C"},
        {""},
    };
    for (const auto& c : ids) {
        uint32_t bus = 0;
        uint16_t vid = 0;
        uint16_t pid = 0;
        EXPECT_EQ(discovery_linux::ParseHidId(c.text, bus, vid, pid), c.bus != 0) << c.text;
        if (c.bus != 0) {
            EXPECT_EQ(std::tuple(bus, vid, pid), std::tuple(c.bus, c.vid, c.pid)) << c.text;
        }
    }
}

}  // namespace
