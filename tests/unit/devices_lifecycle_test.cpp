// Construction and destruction lines of the device objects, and the touch controller.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "devices/KemoUSBTouchFlash.h"
#include "devices/KemoVideoFlash.h"
#include "log/Log.h"
#include "tests/support/CaptureStdout.h"

namespace {

class DeviceLifecycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        CloseLogHandler();
        VerboseFlag() = 0;
        GetLogSettings().fileName = dir.file("run.log");
        GetLogSettings().level = LogTrace;
    }
    void TearDown() override {
        CloseLogHandler();
        GetLogSettings() = CLogSettings{};
        VerboseFlag() = 0;
    }
    // Texts of the log lines that name a device class (the channel's banner is left out).
    std::vector<std::string> DeviceLines() {
        CloseLogHandler();
        std::istringstream in(ReadFileBytes(dir.file("run.log")));
        std::vector<std::string> texts;
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            // date time \t ids \t level \t text
            size_t pos = 0;
            for (int tabs = 0; tabs < 3 && pos != std::string::npos; ++tabs) {
                pos = line.find('\t', pos);
                pos = pos == std::string::npos ? pos : pos + 1;
            }
            if (pos == std::string::npos) {
                continue;
            }
            const std::string text = line.substr(pos);
            if (text.find("Flash") != std::string::npos) {
                texts.push_back(text);
            }
        }
        return texts;
    }
    TempDir dir;
};

TEST_F(DeviceLifecycleTest, VideoControllerThroughItsBasePointer) {
    std::unique_ptr<ZelHidFlash> device = std::make_unique<KemoVideoFlash>();
    device.reset();
    const std::vector<std::string> want = {"ZelHidFlash Constructed", "KemoVideoFlash Constructed",
                                           "KemoVideoFlash Destroyed", "ZelHidFlash Destroyed"};
    EXPECT_EQ(DeviceLines(), want);
}

TEST_F(DeviceLifecycleTest, LifecycleLinesStayOutOfTheConsoleUnderVerbose) {
    VerboseFlag() = 1;
    CaptureOutput capture;
    { KemoVideoFlash device; }
    { KemoUSBTouchFlash touch; }
    // (The channel's terminate banner is a formatted message and does echo.)
    const std::string out = capture.out();
    EXPECT_EQ(out.find("Constructed"), std::string::npos) << out;
    EXPECT_EQ(out.find("Destroyed"), std::string::npos) << out;
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

TEST_F(DeviceLifecycleTest, TouchControllerAcceptsAnythingAndEchoesUnderVerbose) {
    VerboseFlag() = 1;
    KemoUSBTouchFlash device;
    CaptureOutput capture;
    EXPECT_TRUE(device.initialise(0, 0, 0, L"", L""));
    const std::string out = capture.out();
    EXPECT_NE(out.find("KemoUSBTouchFlash::initialise() - Device: 0000:0000  serial/id="),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("KemoUSBTouchFlash::initialise() -    BASE=0000"), std::string::npos) << out;
}

}  // namespace
