// Construction and destruction lines of the device objects, and the touch controller.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "devices/KemoUSBTouchFlash.h"
#include "devices/KemoVideoFlash.h"
#include "devices_sim_fixture.h"

namespace {

class DeviceLifecycleTest : public devtest::SimDeviceTest {
protected:
    // The log lines that name a device class.
    std::vector<std::string> DeviceLines() {
        std::vector<std::string> lines;
        for (const std::string& text : LogTexts()) {
            if (text.find("Flash") != std::string::npos) {
                lines.push_back(text);
            }
        }
        return lines;
    }
};

TEST_F(DeviceLifecycleTest, VideoControllerThroughItsBasePointer) {
    std::unique_ptr<ZelHidFlash> device = std::make_unique<KemoVideoFlash>();
    device.reset();
    const std::vector<std::string> want = {"ZelHidFlash Constructed", "KemoVideoFlash Constructed",
                                           "KemoVideoFlash Destroyed", "ZelHidFlash Destroyed"};
    EXPECT_EQ(DeviceLines(), want);
}

TEST_F(DeviceLifecycleTest, TouchControllerReportsOneBaseLevel) {
    {
        std::unique_ptr<ZelUsbFlash> device = std::make_unique<KemoUSBTouchFlash>();
        EXPECT_TRUE(device->initialise(0x03EB, 0x212C, 0x0102, L"T-7788", L"Not-Used"));
        DeviceLevels levels;
        EXPECT_TRUE(device->getFirmwareLevels(levels));
        EXPECT_EQ(levels.vid, 0x03EB);
        EXPECT_EQ(levels.pid, 0x212C);
        EXPECT_EQ(levels.serial, L"T-7788");
        ASSERT_EQ(levels.components.size(), 1u);
        EXPECT_EQ(levels.components[0].name, L"BASE");
        EXPECT_EQ(levels.components[0].level, 0x0102);
        EXPECT_TRUE(static_cast<KemoUSBTouchFlash*>(device.get())->updateDevice(L"missing.ini"));
    }
    const std::vector<std::string> want = {
        "ZelUsbFlash Constructed",
        "KemoUSBTouchFlash Constructed",
        "KemoUSBTouchFlash::initialise() - Device: 03eb:212c  serial/id=T-7788",
        "KemoUSBTouchFlash::initialise() -    BASE=0102",
        "KemoUSBTouchFlash Destroyed",
        "ZelUsbFlash Destroyed"};
    EXPECT_EQ(DeviceLines(), want);
}

}  // namespace
