// The channel over hidraw on a scripted node: timed waits that survive interruptions and
// empty wake-ups, the device vanishing on every path, the id byte Windows puts first, and
// the texts the user sees.
#include <gtest/gtest.h>

#include <array>

#include "hid/HidIo.h"
#include "hid/HidLib.h"
#include "tests/linux/unit_FakeHidraw.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/Descriptors.h"

namespace {

using fakehid::PollStep;
using fakehid::ReadStep;

const std::vector<uint8_t> kAnswer = {0x01, 0x00, 0, 0, 0, 0, 0, 0, 0x5A};

class HidIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        node.descriptor = descriptors::kMonitor;
        ASSERT_TRUE(HidLib::initialise());
    }

    bool openChannel() { return io.open(L"/dev/hidraw7"); }

    std::array<uint8_t, kInputReportLength> buffer{};
    fakehid::Node node;
    fakehid::Install install{node};
    HidIo io;
};

std::vector<uint8_t> Bytes(const std::array<uint8_t, kInputReportLength>& b) {
    return {b.begin(), b.end()};
}

TEST_F(HidIoTest, InterruptedWaitGoesOnWithTheTimeLeft) {
    ASSERT_TRUE(openChannel());
    node.polls = {PollStep{0, EINTR, 1200}, PollStep{POLLIN, 0, 300}};
    node.reads = {ReadStep{kAnswer, 0}};
    EXPECT_TRUE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_EQ(Bytes(buffer), kAnswer);
    ASSERT_EQ(node.pollTimeouts.size(), 2u);
    EXPECT_EQ(node.pollTimeouts[0], 3000);
    EXPECT_EQ(node.pollTimeouts[1], 1800);
}

TEST_F(HidIoTest, EmptyWakeUpKeepsWaitingUntilTheAnswerOrTheTimeOut) {
    ASSERT_TRUE(openChannel());
    // Woken with nothing to read, then the answer.
    node.polls = {PollStep{POLLIN, 0, 100}, PollStep{POLLIN, 0, 100}};
    node.reads = {ReadStep{{}, EAGAIN}, ReadStep{kAnswer, 0}};
    EXPECT_TRUE(io.recvInputReport(buffer.data(), 7000));
    EXPECT_EQ(Bytes(buffer), kAnswer);

    // A node that always polls ready and never has anything: the whole time-out, no more.
    const int64_t start = node.now;
    for (int k = 0; k < 5000; ++k) {
        node.polls.push_back(PollStep{POLLIN, 0, 0});
    }
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_GE(node.now - start, 3000);
    EXPECT_LT(node.now - start, 3010);
    EXPECT_TRUE(io.isConnected());
}

TEST_F(HidIoTest, QuietDeviceTimesOutWithAZeroedBuffer) {
    ASSERT_TRUE(openChannel());
    buffer.fill(0xEE);
    const int64_t start = node.now;
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_EQ(node.now - start, 3000);
    EXPECT_EQ(Bytes(buffer), std::vector<uint8_t>(kInputReportLength, 0));
    EXPECT_TRUE(io.isConnected());
}

TEST_F(HidIoTest, ShortReportLeavesTheRestZero) {
    ASSERT_TRUE(openChannel());
    buffer.fill(0xEE);
    node.queue = {{0x01, 0x40, 0x07}};
    EXPECT_TRUE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_EQ(Bytes(buffer), (std::vector<uint8_t>{0x01, 0x40, 0x07, 0, 0, 0, 0, 0, 0}));
}

TEST_F(HidIoTest, UnnumberedReportsGetAZeroIdByteFirst) {
    node.descriptor = descriptors::kKeyboard;
    ASSERT_TRUE(openChannel());
    node.queue = {{1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_TRUE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_EQ(Bytes(buffer), (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(HidIoTest, ReportsQueuedBeforeAHangUpAreReadThenTheChannelStops) {
    ASSERT_TRUE(openChannel());
    node.polls = {PollStep{POLLIN | POLLHUP, 0, 0}, PollStep{POLLHUP, 0, 0}};
    node.reads = {ReadStep{kAnswer, 0}};
    EXPECT_TRUE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_EQ(Bytes(buffer), kAnswer);
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_FALSE(io.isConnected());

    // Gone: nothing polls, reads or writes any more.
    const int polls = node.devicePolls;
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_FALSE(io.flushDeviceQueue());
    std::vector<uint8_t> report(264, 0);
    report[0] = 0x01;
    EXPECT_FALSE(io.sendOutputReport(report.data(), 264));
    EXPECT_EQ(node.devicePolls, polls);
    EXPECT_TRUE(node.written.empty());
}

struct ErrnoCase {
    int error;
    bool gone;
};

const ErrnoCase kErrnoCases[] = {
    {EIO, true},    {ENODEV, true},  {ENXIO, true},      {ESHUTDOWN, true},
    {EPIPE, false}, {EPROTO, false}, {ETIMEDOUT, false},
};

TEST_F(HidIoTest, ReadErrorsMarkTheDeviceGoneOnlyWhenItIs) {
    for (const ErrnoCase& c : kErrnoCases) {
        SCOPED_TRACE(c.error);
        fakehid::Node fresh;
        fresh.descriptor = descriptors::kMonitor;
        fakehid::Install scoped(fresh);
        HidIo channel;
        ASSERT_TRUE(channel.open(L"/dev/hidraw7"));
        fresh.polls = {PollStep{POLLIN, 0, 0}};
        fresh.reads = {ReadStep{{}, c.error}};
        EXPECT_FALSE(channel.recvInputReport(buffer.data(), 3000));
        EXPECT_EQ(channel.isConnected(), !c.gone);
        channel.terminate();
    }
}

TEST_F(HidIoTest, WriteErrorsMarkTheDeviceGoneOnlyWhenItIs) {
    std::vector<uint8_t> report(264, 0);
    report[0] = 0x01;
    for (const ErrnoCase& c : kErrnoCases) {
        SCOPED_TRACE(c.error);
        fakehid::Node fresh;
        fresh.descriptor = descriptors::kMonitor;
        fakehid::Install scoped(fresh);
        HidIo channel;
        ASSERT_TRUE(channel.open(L"/dev/hidraw7"));
        fresh.writeError = c.error;
        EXPECT_FALSE(channel.sendOutputReport(report.data(), 264));
        EXPECT_EQ(channel.isConnected(), !c.gone);
    }
}

TEST_F(HidIoTest, WritesWholeDeclaredReportsOnly) {
    ASSERT_TRUE(openChannel());
    std::vector<uint8_t> report(264, 0xA5);
    report[0] = 0x01;
    EXPECT_TRUE(io.sendOutputReport(report.data(), 264));
    ASSERT_EQ(node.written.size(), 1u);
    EXPECT_EQ(node.written[0], report);

    EXPECT_FALSE(io.sendOutputReport(report.data(), 263));  // not the declared length
    report[0] = 0x02;
    EXPECT_FALSE(io.sendOutputReport(report.data(), 264));  // not a declared output report
    EXPECT_EQ(node.written.size(), 1u);
    EXPECT_TRUE(io.isConnected());
}

TEST_F(HidIoTest, WriteRefusedForTheMomentTriesAgainForAtMostFiveSeconds) {
    ASSERT_TRUE(openChannel());
    std::vector<uint8_t> report(264, 0);
    report[0] = 0x01;
    node.writeErrors = {EINTR, EAGAIN, EAGAIN};
    EXPECT_TRUE(io.sendOutputReport(report.data(), 264));
    EXPECT_EQ(node.written.size(), 1u);
    EXPECT_EQ(node.devicePolls, 0);  // the write is not preceded by a poll

    node.writeError = EAGAIN;
    const int64_t start = node.now;
    EXPECT_FALSE(io.sendOutputReport(report.data(), 264));
    EXPECT_GE(node.now - start, 5000);
    EXPECT_LT(node.now - start, 5010);
    EXPECT_TRUE(io.isConnected());
}

TEST_F(HidIoTest, TerminateEndsAWriteThatWaits) {
    ASSERT_TRUE(openChannel());
    std::vector<uint8_t> report(264, 0);
    report[0] = 0x01;
    node.writeError = EAGAIN;
    node.terminated = true;
    const int64_t start = node.now;
    EXPECT_FALSE(io.sendOutputReport(report.data(), 264));
    EXPECT_EQ(node.now, start);
}

TEST_F(HidIoTest, TerminateEndsAWaitAndClosesEverything) {
    ASSERT_TRUE(openChannel());
    node.polls = {PollStep{0, 0, 10, true}};
    const int64_t start = node.now;
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 7000));
    EXPECT_EQ(node.now - start, 10);

    io.terminate();
    EXPECT_TRUE(node.terminated);
    std::sort(node.closed.begin(), node.closed.end());
    EXPECT_EQ(node.closed, (std::vector<int>{fakehid::kDeviceFd, fakehid::kEventFd}));
}

TEST_F(HidIoTest, ChannelClosesItsDescriptorsWithoutTerminate) {
    {
        HidIo channel;
        ASSERT_TRUE(channel.open(L"/dev/hidraw7"));
    }
    EXPECT_EQ(node.closed.size(), 2u);
}

TEST_F(HidIoTest, OpenFailureClosesTheEvent) {
    node.openError = EACCES;
    EXPECT_FALSE(openChannel());
    io.terminate();
    EXPECT_EQ(node.closed, (std::vector<int>{fakehid::kEventFd}));
}

TEST_F(HidIoTest, FlushDropsEveryWaitingReport) {
    ASSERT_TRUE(openChannel());
    node.queue = {kAnswer, kAnswer, kAnswer};
    node.reads = {ReadStep{{}, EINTR}};
    EXPECT_TRUE(io.flushDeviceQueue());
    EXPECT_TRUE(node.queue.empty());

    node.reads = {ReadStep{{}, EPROTO}};
    EXPECT_FALSE(io.flushDeviceQueue());
    EXPECT_TRUE(io.isConnected());
    node.reads = {ReadStep{{}, ENODEV}};
    EXPECT_FALSE(io.flushDeviceQueue());
    EXPECT_FALSE(io.isConnected());
}

TEST_F(HidIoTest, FeatureFailuresShowTheWindowsCode) {
    struct Case {
        int error;
        const char* shown;
    };
    const Case cases[] = {
        {ENODEV, "HidIo::getFeature - err=0000048f\n"},
        {EIO, "HidIo::getFeature - err=0000048f\n"},
        {EPIPE, "HidIo::getFeature - err=0000001f\n"},
        {ETIMEDOUT, "HidIo::getFeature - err=0000001f\n"},
        {EINVAL, "HidIo::getFeature - err=00000057\n"},
    };
    ASSERT_TRUE(openChannel());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        node.featureError = c.error;
        std::vector<uint8_t> feature(128, 0);
        feature[0] = 0x01;
        CaptureOutput capture;
        EXPECT_FALSE(io.getFeature(feature.data(), 128));
        EXPECT_EQ(capture.out(), c.shown);
    }
    // A disconnection seen here is left to the next transfer, as on Windows.
    EXPECT_TRUE(io.isConnected());
}

TEST_F(HidIoTest, ShortFeatureAnswerReadsAsZerosAfterIt) {
    ASSERT_TRUE(openChannel());
    node.featureAnswer = {0x01, 0x10, 0x00, 0xFF};
    std::vector<uint8_t> feature(128, 0xEE);
    feature[0] = 0x01;
    EXPECT_TRUE(io.getFeature(feature.data(), 128));
    std::vector<uint8_t> expected(128, 0);
    expected[0] = 0x01;
    expected[1] = 0x10;
    expected[3] = 0xFF;
    EXPECT_EQ(feature, expected);
}

}  // namespace
