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

}  // namespace
