// The channel over hidraw on a scripted node: what the hidraw transport itself does. Timed
// waits that survive interruptions and empty wake-ups, hang-ups, which errors mean the device
// left, the id byte Windows puts first, the reports the collection declares, and the codes the
// user sees. The channel's rules above the transport are tested over every backend alike;
// whole runs go through the emulated devices of the bed.
#include <gtest/gtest.h>

#include <array>
#include <limits>

#include "hid/HidIo.h"
#include "hid/HidLib.h"
#include "tests/linux/unit_FakeHidraw.h"
#include "tests/support/ConsoleAndFiles.h"
#include "tests/support/Descriptors.h"

namespace {

using fakehid::PollStep;
using fakehid::ReadStep;

const std::vector<uint8_t> kAnswer = {0x01, 0x00, 0, 0, 0, 0, 0, 0, 0x5A};
const std::vector<uint8_t> kReport = [] {  // the monitor's output report: 264 bytes, id 1
    std::vector<uint8_t> report(264, 0xA5);
    report[0] = 0x01;
    return report;
}();

class HidrawChannel : public ::testing::Test {
protected:
    void SetUp() override {
        node.descriptor = descriptors::kMonitor;
        ASSERT_TRUE(HidLib::initialise());
    }
    std::vector<uint8_t> received() const { return {buffer.begin(), buffer.begin() + 9}; }
    bool send() { return io.sendOutputReport(kReport.data(), 264); }

    std::array<uint8_t, kInputReportLength + 1> buffer{};
    fakehid::Node node;
    fakehid::Install install{node};
    HidIo io;
};

// Every wait is bounded by the time left on the monotonic clock, however it is woken; poll's
// int takes a 32-bit time-out in steps; no time at all still finds a queued report.
TEST_F(HidrawChannel, WaitsKeepTheirTimeLimit) {
    ASSERT_TRUE(io.open(L"/dev/hidraw7"));
    node.polls = {PollStep{0, EINTR, 1200}, PollStep{POLLIN, 0, 300}, PollStep{POLLIN, 0, 100}};
    node.reads = {ReadStep{{}, EAGAIN}, ReadStep{kAnswer, 0}};  // woken with nothing, then
    EXPECT_TRUE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_EQ(received(), kAnswer);
    EXPECT_EQ(node.pollTimeouts, (std::vector<int>{3000, 1800, 1498}));

    int64_t start = node.now;
    node.polls.assign(5000, PollStep{POLLIN, 0, 0});  // always ready, never anything
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_GE(node.now - start, 3000);
    EXPECT_LT(node.now - start, 3010);

    node.polls.clear();
    node.pollTimeouts.clear();
    start = node.now;
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 0xFFFFFFFFu));
    EXPECT_EQ(node.now - start, int64_t{0xFFFFFFFFu});
    constexpr int kMost = std::numeric_limits<int>::max();
    EXPECT_EQ(node.pollTimeouts, (std::vector<int>{kMost, kMost, 1, 0}));
    node.queue = {kAnswer};
    EXPECT_TRUE(io.recvInputReport(buffer.data(), 0));

    node.polls = {PollStep{0, 0, 10, true}};  // terminate's eventfd ends a wait at once
    start = node.now;
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 7000));
    EXPECT_EQ(node.now - start, 10);
    EXPECT_TRUE(io.isConnected());
}

TEST_F(HidrawChannel, ReportsQueuedBeforeAHangUpAreReadThenTheChannelStops) {
    ASSERT_TRUE(io.open(L"/dev/hidraw7"));
    node.polls = {PollStep{POLLIN | POLLHUP, 0, 0}, PollStep{POLLHUP, 0, 0}};
    node.reads = {ReadStep{kAnswer, 0}};
    EXPECT_TRUE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_EQ(received(), kAnswer);
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_FALSE(io.isConnected());
    const int polls = node.devicePolls;
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_EQ(node.devicePolls, polls);
}

// EIO is a vanished device only from a read (and the flush, which reads): from a write it can
// be one failed transfer of a Bluetooth or I2C device that is still there.
TEST_F(HidrawChannel, ErrorsMarkTheDeviceGoneOnlyWhenItIs) {
    const struct {
        int error;
        bool goneReading, goneWriting;
    } cases[] = {
        {EIO, true, false},      {ENODEV, true, true},  {ENXIO, true, true},
        {ESHUTDOWN, true, true}, {EPIPE, false, false}, {ETIMEDOUT, false, false},
    };
    for (const auto& [error, goneReading, goneWriting] : cases) {
        for (const int call : {0, 1, 2}) {  // read, write, flush
            SCOPED_TRACE(testing::Message() << error << " call " << call);
            HidIo channel;
            ASSERT_TRUE(channel.open(L"/dev/hidraw7"));
            node.reads = {ReadStep{{}, error}};
            node.queue = {kAnswer};
            node.writeError = error;
            EXPECT_FALSE(call == 0   ? channel.recvInputReport(buffer.data(), 3000)
                         : call == 1 ? channel.sendOutputReport(kReport.data(), 264)
                                     : channel.flushDeviceQueue());
            EXPECT_EQ(channel.isConnected(), !(call == 1 ? goneWriting : goneReading));
        }
    }
}

// Windows puts a zero id byte before an unnumbered report; a long one is cut to nine bytes.
TEST_F(HidrawChannel, UnnumberedReportsStayWithinNineBytes) {
    node.descriptor = descriptors::kUnnumberedMonitor;
    ASSERT_TRUE(io.open(L"/dev/hidraw8"));
    node.queue = {std::vector<uint8_t>(64, 0x77)};
    buffer.fill(0xEE);
    EXPECT_TRUE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_EQ(received(),
              (std::vector<uint8_t>{0, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77}));
    EXPECT_EQ(buffer[9], 0xEE);
}

// Whole reports of the declared length and id only; a write refused for the moment is tried
// again for at most five seconds, and terminate ends that at once.
TEST_F(HidrawChannel, WritesWholeDeclaredReportsWithinFiveSeconds) {
    ASSERT_TRUE(io.open(L"/dev/hidraw7"));
    node.writeErrors = {EINTR, EAGAIN, EAGAIN};
    EXPECT_TRUE(send());
    std::vector<uint8_t> other = kReport;
    other[0] = 0x02;
    EXPECT_FALSE(io.sendOutputReport(kReport.data(), 263));
    EXPECT_FALSE(io.sendOutputReport(other.data(), 264));
    EXPECT_EQ(node.written, std::vector<std::vector<uint8_t>>{kReport});
    EXPECT_EQ(node.devicePolls, 0);  // a write is not preceded by a poll

    node.writeError = EAGAIN;
    const int64_t start = node.now;
    EXPECT_FALSE(send());
    EXPECT_GE(node.now - start, 5000);
    EXPECT_LT(node.now - start, 5010);
    node.terminated = true;
    const int64_t then = node.now;
    EXPECT_FALSE(send());
    EXPECT_EQ(node.now, then);
    EXPECT_TRUE(io.isConnected());
}

// A node carries the reports of every collection and a channel takes only its own, going on
// for the time left; past the deadline only what the kernel had queued (64 reports) is looked
// at, so a device that never stops cannot hold the read.
TEST_F(HidrawChannel, ReportsOfAnotherCollectionAreDropped) {
    node.descriptor = descriptors::MonitorWithSecondCollection();
    ASSERT_TRUE(io.open(L"/dev/hidraw7&col01"));
    const std::vector<uint8_t> other = {0x02, 0x01, 0, 0, 0, 0, 0, 0, 0x77};
    node.queue.assign(200, other);
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 0));
    EXPECT_EQ(node.queue.size(), 200u - 65u);
    node.queue = {other, kAnswer};
    EXPECT_TRUE(io.recvInputReport(buffer.data(), 0));
    EXPECT_EQ(received(), kAnswer);
    HidIo third;
    EXPECT_FALSE(third.open(L"/dev/hidraw7&col03"));
}

// The code the user sees for a failed feature request is the one Windows gives; a short
// answer ends in zeros.
TEST_F(HidrawChannel, FeatureRequests) {
    const std::pair<int, const char*> cases[] = {
        {ENODEV, "0000048f"}, {EIO, "0000001f"}, {EPIPE, "0000001f"}, {EINVAL, "00000057"}};
    ASSERT_TRUE(io.open(L"/dev/hidraw7"));
    std::vector<uint8_t> feature(128, 0xEE);
    feature[0] = 0x01;
    for (const auto& [error, shown] : cases) {
        node.featureError = error;
        CaptureOutput capture;
        EXPECT_FALSE(io.getFeature(feature.data(), 128));
        EXPECT_EQ(capture.out(), std::string("HidIo::getFeature - err=") + shown + "\n") << error;
    }
    node.featureError = 0;
    node.featureAnswer = {0x01, 0x10, 0x00, 0xFF};
    EXPECT_TRUE(io.getFeature(feature.data(), 128));
    std::vector<uint8_t> expected(128, 0);
    std::copy(node.featureAnswer.begin(), node.featureAnswer.end(), expected.begin());
    EXPECT_EQ(feature, expected);
}

// Both descriptors close at terminate, or without it; a node whose descriptor cannot be read
// is no channel and is closed at once.
TEST_F(HidrawChannel, DescriptorsAreClosed) {
    ASSERT_TRUE(io.open(L"/dev/hidraw7"));
    io.terminate();
    EXPECT_TRUE(node.terminated);
    {
        HidIo unterminated;
        ASSERT_TRUE(unterminated.open(L"/dev/hidraw7"));
    }
    std::sort(node.closed.begin(), node.closed.end());
    EXPECT_EQ(node.closed, (std::vector<int>{fakehid::kDeviceFd, fakehid::kDeviceFd,
                                             fakehid::kEventFd, fakehid::kEventFd}));
    node.closed.clear();
    node.descriptorSizeError = EIO;
    HidIo broken;
    EXPECT_FALSE(broken.open(L"/dev/hidraw7"));
    EXPECT_EQ(node.closed, (std::vector<int>{fakehid::kDeviceFd}));
}

}  // namespace
