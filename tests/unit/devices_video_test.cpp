// The device objects against the simulated monitor: report bytes on the wire, status rules,
// the report id, the component table and the clean-up of a failed start; the touch controller.
#include <gtest/gtest.h>

#include "devices/KemoUSBTouchFlash.h"
#include "devices_sim_fixture.h"

namespace {

using devtest::OutLine;
using sim::FaultKind;

class DeviceTest : public devtest::SimDeviceTest {};

// The table needs 23 feature bytes (7 of header, 16 of table); a shorter report gives zero
// levels rather than bytes from beyond its end. Every command carries the report id of the
// output value capability.
TEST_F(DeviceTest, CommandBytesReportIdAndComponentTable) {
    for (const uint16_t length : {uint16_t{23}, uint16_t{22}}) {
        SCOPED_TRACE(length);
        KemoVideoFlash* device = Start([&](sim::SimMonitor& m) {
            m.featureReportLength = length;
            m.reportId = 0x07;
            m.componentTable = {1, 0x05, 0x01, 0, 2, 0x10, 0x02, 0x80,
                                3, 0xff, 0x00, 1, 4, 0x00, 0xab, 2};
        });
        ASSERT_NE(device, nullptr);
        DeviceLevels levels;
        EXPECT_TRUE(device->getFirmwareLevels(levels));
        EXPECT_EQ(levels.vid, 0x0F66);
        EXPECT_EQ(levels.pid, 0x302C);
        EXPECT_EQ(levels.serial, L"41-A0001");
        const std::wstring names[] = {L"MCU", L"HW_CFG", L"SCALAR", L"CAPSENSE"};
        const uint16_t full[] = {0x0105, 0x0210, 0x00ff, 0xab00};  // rev * 256 + gen
        ASSERT_EQ(levels.components.size(), 4u);
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(levels.components[i].name, names[i]);
            EXPECT_EQ(levels.components[i].level, length == 23 ? full[i] : 0) << i;
        }
        EXPECT_EQ(Count("Component[04]:\tgen=00\trev=ab\tflags=02\tlevel=ab00"), length == 23);
        EXPECT_EQ(Count("KemoVideoFlash::initialise - Ok"), 1);

        device->readConfigBytes();
        EXPECT_TRUE(device->startUpdate(1, 0));
        EXPECT_TRUE(device->startUpdate(0, 0x40));
        EXPECT_EQ(Outs(0), (std::vector<std::string>{
                               OutLine({0x07, 0x06, 0x00, 0x20, 0x00, 0xff, 0xff, 0x00, 0x01}),
                               OutLine({0x07, 0x06, 0x00, 0x20, 0x00, 0xff, 0x01, 0x00, 0x00}),
                               OutLine({0x07, 0x04, 0x00, 0x01, 0x00}),
                               OutLine({0x07, 0x04, 0x00, 0x00, 0x40})}));
    }
}

// Queries and resets pass on bit 0 of the status alone.
TEST_F(DeviceTest, QueryAndResetStatusRule) {
    for (const uint8_t status : {uint8_t{0x00}, uint8_t{0x01}, uint8_t{0x81}, uint8_t{0xfe}}) {
        SCOPED_TRACE(int(status));
        const bool passes = (status & 1) != 0;
        // Exchange 2: a configuration query; 3: a reset.
        KemoVideoFlash* device =
            Start({{2, FaultKind::Status, status}, {3, FaultKind::Status, status}});
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(device->flash(kSelectorConfiguration).has_value(), passes);
        EXPECT_EQ(device->startUpdate(1, 0), passes);
        const std::string hex = sim::HexBytes(&status, 1);
        EXPECT_EQ(Count("KemoVideoFlash::flash, bad status 0x" + hex), !passes);
        EXPECT_EQ(Count("KemoVideoFlash::startUpdate, bad status 0x" + hex), !passes);
    }
}

// A monitor that cannot be driven is dropped before a report is sent; one whose first
// exchange fails is dropped with its channel closed.
TEST_F(DeviceTest, FailedInitialiseLeavesNothingOpen) {
    const struct {
        const char* name;
        bool capsMatch;
        uint16_t outputLength;
        FaultKind fault;  // on the first exchange; status 0x01 is the model's own answer
        uint8_t status;
        size_t reportsSent;
        const char* printed;
    } cases[] = {
        {"no command value capability", false, 264, FaultKind::Status, 0x01, 0, ""},
        {"output report of 64", true, 64, FaultKind::Status, 0x01, 0, ""},
        {"output report of 265", true, 265, FaultKind::Status, 0x01, 0, ""},
        {"no answer", true, 264, FaultKind::NoAnswer, 0, 1, "timeout revc\n"},
        {"status 0x00", true, 264, FaultKind::Status, 0x00, 1, ""},
        {"disconnected", true, 264, FaultKind::Disconnect, 0, 0, ""},
        {"feature report refused", true, 264, FaultKind::FeatureFails, 0, 1, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureOutput capture;
        KemoVideoFlash* device = Start([&](sim::SimMonitor& m) {
            m.outputValueCapsMatch = c.capsMatch;
            m.outputReportLength = c.outputLength;
            m.faults = {{1, c.fault, c.status}};
        });
        const std::string printed = capture.out();
        EXPECT_EQ(device, nullptr);
        EXPECT_TRUE(list->hidDevices().empty());
        EXPECT_FALSE(Monitor().open);
        EXPECT_EQ(Bus().openHandles, 0);
        EXPECT_EQ(Outs(0).size(), c.reportsSent);
        EXPECT_EQ(printed, c.printed != nullptr ? c.printed : printed);
        EXPECT_EQ(Count("KemoVideoFlash Destroyed"), 1);
        if (c.fault == FaultKind::NoAnswer) {
            EXPECT_GE(Bus().clockMs, 3000u);  // the whole time-out was waited
        }
    }
}

TEST_F(DeviceTest, TouchControllerReportsOneBaseLevelAndNeedsNoUpdate) {
    KemoUSBTouchFlash device;
    EXPECT_TRUE(device.initialise(0x03EB, 0x212C, 0x0102, L"T-7788", L"Not-Used"));
    DeviceLevels levels;
    EXPECT_TRUE(device.getFirmwareLevels(levels));
    EXPECT_EQ(levels.vid, 0x03EB);
    EXPECT_EQ(levels.pid, 0x212C);
    EXPECT_EQ(levels.serial, L"T-7788");
    ASSERT_EQ(levels.components.size(), 1u);
    EXPECT_EQ(levels.components[0].name, L"BASE");
    EXPECT_EQ(levels.components[0].level, 0x0102);
    EXPECT_TRUE(device.updateDevice(L"missing.ini"));
    EXPECT_EQ(Count("KemoUSBTouchFlash::initialise() -    BASE=0102"), 1);
}

}  // namespace
