// The channel over hidraw on a scripted node: timed waits that survive interruptions and
// empty wake-ups, the device vanishing on every path, the id byte Windows puts first, and
// the texts the user sees.
#include <gtest/gtest.h>

#include <array>
#include <limits>

#include "hid/HidIo.h"
#include "hid/HidLib.h"
#include "log/Log.h"
#include "tests/linux/unit_FakeHidraw.h"
#include "tests/support/ConsoleAndFiles.h"
#include "tests/support/Descriptors.h"

namespace {

using fakehid::PollStep;
using fakehid::ReadStep;

const std::vector<uint8_t> kAnswer = {0x01, 0x00, 0, 0, 0, 0, 0, 0, 0x5A};

// The monitor's output report: 264 bytes on report id 1.
std::vector<uint8_t> Report(uint8_t fill = 0) {
    std::vector<uint8_t> report(264, fill);
    report[0] = 0x01;
    return report;
}

class HidIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        node.descriptor = descriptors::kMonitor;
        ASSERT_TRUE(HidLib::initialise());
    }

    bool openChannel() { return io.open(L"/dev/hidraw7"); }
    std::vector<uint8_t> received() const { return {buffer.begin(), buffer.end()}; }

    std::array<uint8_t, kInputReportLength> buffer{};
    fakehid::Node node;
    fakehid::Install install{node};
    HidIo io;
};

TEST_F(HidIoTest, InterruptedOrEmptyWakeUpsKeepWaitingWithTheTimeLeft) {
    ASSERT_TRUE(openChannel());
    node.polls = {PollStep{0, EINTR, 1200}, PollStep{POLLIN, 0, 300}};
    node.reads = {ReadStep{kAnswer, 0}};
    EXPECT_TRUE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_EQ(received(), kAnswer);
    EXPECT_EQ(node.pollTimeouts, (std::vector<int>{3000, 1800}));

    // Woken with nothing to read, then the answer.
    node.polls = {PollStep{POLLIN, 0, 100}, PollStep{POLLIN, 0, 100}};
    node.reads = {ReadStep{{}, EAGAIN}, ReadStep{kAnswer, 0}};
    EXPECT_TRUE(io.recvInputReport(buffer.data(), 7000));
    EXPECT_EQ(received(), kAnswer);

    // A node that always polls ready and never has anything: the whole time-out, no more.
    const int64_t start = node.now;
    node.polls.assign(5000, PollStep{POLLIN, 0, 0});
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_GE(node.now - start, 3000);
    EXPECT_LT(node.now - start, 3010);
    EXPECT_TRUE(io.isConnected());
}

// A quiet device's time-out is the bed's no-answer fault; what the bed cannot give is a short
// report (ending in zeros) and reports without ids (a zero id byte first).
TEST_F(HidIoTest, ShortReportsEndInZerosAndUnnumberedOnesGetAZeroIdByte) {
    ASSERT_TRUE(openChannel());
    buffer.fill(0xEE);
    node.queue = {{0x01, 0x40, 0x07}};
    EXPECT_TRUE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_EQ(received(), (std::vector<uint8_t>{0x01, 0x40, 0x07, 0, 0, 0, 0, 0, 0}));

    node.descriptor = descriptors::kKeyboard;
    HidIo keyboard;
    ASSERT_TRUE(keyboard.open(L"/dev/hidraw8"));
    node.queue = {{1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_TRUE(keyboard.recvInputReport(buffer.data(), 3000));
    EXPECT_EQ(received(), (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(HidIoTest, ReportsQueuedBeforeAHangUpAreReadThenTheChannelStops) {
    ASSERT_TRUE(openChannel());
    node.polls = {PollStep{POLLIN | POLLHUP, 0, 0}, PollStep{POLLHUP, 0, 0}};
    node.reads = {ReadStep{kAnswer, 0}};
    EXPECT_TRUE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_EQ(received(), kAnswer);
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_FALSE(io.isConnected());

    // Gone: nothing polls, reads or writes any more.
    const int polls = node.devicePolls;
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_FALSE(io.flushDeviceQueue());
    EXPECT_FALSE(io.sendOutputReport(Report().data(), 264));
    EXPECT_EQ(node.devicePolls, polls);
    EXPECT_TRUE(node.written.empty());
}

// EIO is a vanished device only from a read: from a write it can be one failed transfer of
// a Bluetooth or I2C device that is still there.
TEST_F(HidIoTest, ReadAndWriteErrorsMarkTheDeviceGoneOnlyWhenItIs) {
    const struct {
        int error;
        bool goneReading, goneWriting;
    } cases[] = {
        {EIO, true, false},        {ENODEV, true, true},  {ENXIO, true, true},
        {ESHUTDOWN, true, true},   {EPIPE, false, false}, {EPROTO, false, false},
        {ETIMEDOUT, false, false},
    };
    for (const auto& [error, goneReading, goneWriting] : cases) {
        for (const bool reading : {true, false}) {
            const bool gone = reading ? goneReading : goneWriting;
            SCOPED_TRACE(testing::Message() << error << (reading ? " reading" : " writing"));
            fakehid::Node fresh;
            fresh.descriptor = descriptors::kMonitor;
            fakehid::Install scoped(fresh);
            HidIo channel;
            ASSERT_TRUE(channel.open(L"/dev/hidraw7"));
            fresh.polls = {PollStep{POLLIN, 0, 0}};
            fresh.reads = {ReadStep{{}, error}};
            fresh.writeError = error;
            EXPECT_FALSE(reading ? channel.recvInputReport(buffer.data(), 3000)
                                 : channel.sendOutputReport(Report().data(), 264));
            EXPECT_EQ(channel.isConnected(), !gone);
        }
    }
}

TEST_F(HidIoTest, WritesWholeDeclaredReportsOnly) {
    ASSERT_TRUE(openChannel());
    std::vector<uint8_t> report = Report(0xA5);
    EXPECT_TRUE(io.sendOutputReport(report.data(), 264));
    EXPECT_EQ(node.written, std::vector<std::vector<uint8_t>>{report});

    EXPECT_FALSE(io.sendOutputReport(report.data(), 263));  // not the declared length
    report[0] = 0x02;
    EXPECT_FALSE(io.sendOutputReport(report.data(), 264));  // not a declared output report
    EXPECT_EQ(node.written.size(), 1u);
    EXPECT_TRUE(io.isConnected());
}

TEST_F(HidIoTest, WriteRefusedForTheMomentTriesAgainForAtMostFiveSeconds) {
    ASSERT_TRUE(openChannel());
    node.writeErrors = {EINTR, EAGAIN, EAGAIN};
    EXPECT_TRUE(io.sendOutputReport(Report().data(), 264));
    EXPECT_EQ(node.written.size(), 1u);
    EXPECT_EQ(node.devicePolls, 0);  // the write is not preceded by a poll

    node.writeError = EAGAIN;
    const int64_t start = node.now;
    EXPECT_FALSE(io.sendOutputReport(Report().data(), 264));
    EXPECT_GE(node.now - start, 5000);
    EXPECT_LT(node.now - start, 5010);
    EXPECT_TRUE(io.isConnected());

    node.terminated = true;  // and terminate ends such a wait at once
    const int64_t then = node.now;
    EXPECT_FALSE(io.sendOutputReport(Report().data(), 264));
    EXPECT_EQ(node.now, then);
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

TEST_F(HidIoTest, DescriptorsAreClosedWithoutTerminateAndWhenOpenFails) {
    {
        HidIo channel;
        ASSERT_TRUE(channel.open(L"/dev/hidraw7"));
    }
    EXPECT_EQ(node.closed.size(), 2u);

    node.closed.clear();
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
    node.reads = {ReadStep{{}, EIO}};  // the flush reads: EIO is the device gone
    EXPECT_FALSE(io.flushDeviceQueue());
    EXPECT_FALSE(io.isConnected());
}

TEST_F(HidIoTest, FeatureFailuresShowTheWindowsCodeAndShortAnswersEndInZeros) {
    // EIO from a request is one failed transfer, not a vanished device.
    const std::pair<int, const char*> cases[] = {
        {ENODEV, "0000048f"},    {EIO, "0000001f"},    {EPIPE, "0000001f"},
        {ETIMEDOUT, "0000001f"}, {EINVAL, "00000057"},
    };
    ASSERT_TRUE(openChannel());
    std::vector<uint8_t> feature(128, 0xEE);
    feature[0] = 0x01;
    for (const auto& [error, shown] : cases) {
        node.featureError = error;
        CaptureOutput capture;
        EXPECT_FALSE(io.getFeature(feature.data(), 128));
        EXPECT_EQ(capture.out(), std::string("HidIo::getFeature - err=") + shown + "\n") << error;
    }
    // A disconnection seen here is left to the next transfer, as on Windows.
    EXPECT_TRUE(io.isConnected());

    node.featureError = 0;
    node.featureAnswer = {0x01, 0x10, 0x00, 0xFF};
    std::fill(feature.begin() + 1, feature.end(), 0xEE);
    EXPECT_TRUE(io.getFeature(feature.data(), 128));
    std::vector<uint8_t> expected(128, 0);
    std::copy(node.featureAnswer.begin(), node.featureAnswer.end(), expected.begin());
    EXPECT_EQ(feature, expected);
}

// A node carries the input reports of every collection of its descriptor; the channel was
// opened for one of them and takes only its reports, as a Windows handle does: a report of
// the other collection (status bit set, so it would pass for an answer) is dropped and the
// wait goes on for the time left.
TEST_F(HidIoTest, ReportsOfAnotherCollectionAreDroppedAndTheWaitGoesOn) {
    node.descriptor = descriptors::MonitorWithSecondCollection();
    ASSERT_TRUE(io.open(L"/dev/hidraw7&col01"));
    const std::vector<uint8_t> other = {0x02, 0x01, 0, 0, 0, 0, 0, 0, 0x77};
    node.polls = {PollStep{POLLIN, 0, 400}, PollStep{POLLIN, 0, 100}};
    node.reads = {ReadStep{other, 0}, ReadStep{kAnswer, 0}};
    VerboseFlag() = 1;
    CaptureOutput capture;
    EXPECT_TRUE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_EQ(received(), kAnswer);
    EXPECT_EQ(node.pollTimeouts, (std::vector<int>{3000, 2600}));
    EXPECT_NE(capture.out().find("HidIo::recvInputReport - input report 02 of another collection "
                                 "dropped"),
              std::string::npos)
        << capture.out();
    VerboseFlag() = 0;

    // Only the other collection talks: the wait ends at its time-out.
    const int64_t start = node.now;
    node.polls.assign(30, PollStep{POLLIN, 0, 100});
    node.reads.assign(30, ReadStep{other, 0});
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_EQ(node.now - start, 3000);
    EXPECT_TRUE(io.isConnected());
    // Past it, only what the kernel had queued (64 reports) is looked at: a device that
    // never stops cannot hold the read.
    node.queue.assign(200, other);
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 0));
    EXPECT_EQ(node.queue.size(), 200u - 65u);
    node.queue = {other, other, kAnswer};
    EXPECT_TRUE(io.recvInputReport(buffer.data(), 0));
    EXPECT_EQ(received(), kAnswer);

    // The channel of the second collection takes its reports and no other, and has no
    // output or feature report to give.
    HidIo second;
    ASSERT_TRUE(second.open(L"/dev/hidraw7&col02"));
    node.queue = {kAnswer, other};
    EXPECT_TRUE(second.recvInputReport(buffer.data(), 3000));
    EXPECT_EQ(received(), other);
    EXPECT_FALSE(second.sendOutputReport(Report().data(), 264));
    EXPECT_TRUE(node.written.empty());
    std::vector<uint8_t> feature(128, 0);
    feature[0] = 0x01;
    {
        CaptureOutput refused;
        EXPECT_FALSE(second.getFeature(feature.data(), 128));
        EXPECT_EQ(refused.out(), "HidIo::getFeature - err=00000057\n");
    }
    EXPECT_EQ(node.featureRequests, 0);
    EXPECT_TRUE(io.sendOutputReport(Report().data(), 264));  // the first collection's

    // A collection the node does not have is no channel.
    HidIo third;
    EXPECT_FALSE(third.open(L"/dev/hidraw7&col03"));
}

// The product fetches feature reports with id 0: a collection whose feature report is
// numbered refuses it before anything is asked of the device, as Windows does
// (ERROR_INVALID_PARAMETER), instead of the kernel fetching report 0 and putting a numbered
// answer one byte to the right. Its own id is fetched.
TEST_F(HidIoTest, FeatureReportsOnlyOfTheCollectionsIds) {
    ASSERT_TRUE(openChannel());  // every report on id 1
    node.featureAnswer = {0x01, 0x10, 0x00, 0xFF};
    std::vector<uint8_t> feature(128, 0);
    {
        CaptureOutput capture;
        EXPECT_FALSE(io.getFeature(feature.data(), 128));
        EXPECT_EQ(capture.out(), "HidIo::getFeature - err=00000057\n");
    }
    EXPECT_EQ(node.featureRequests, 0);
    feature[0] = 0x01;
    EXPECT_TRUE(io.getFeature(feature.data(), 128));
    EXPECT_EQ(node.featureRequests, 1);
    EXPECT_EQ(feature[3], 0xFF);

    node.descriptor = descriptors::kUnnumberedMonitor;
    HidIo unnumbered;
    ASSERT_TRUE(unnumbered.open(L"/dev/hidraw8"));
    feature.assign(128, 0);
    node.featureAnswer = {0x00, 0x10, 0x00, 0xFF};
    EXPECT_TRUE(unnumbered.getFeature(feature.data(), 128));
    feature[0] = 0x01;
    CaptureOutput capture;
    EXPECT_FALSE(unnumbered.getFeature(feature.data(), 128));
    EXPECT_EQ(capture.out(), "HidIo::getFeature - err=00000057\n");
    EXPECT_EQ(node.featureRequests, 2);
}

// A node whose descriptor cannot be read is no channel: without it the channel cannot tell
// its reports from others, nor whether they start with their id.
TEST_F(HidIoTest, OpenFailsWithoutTheDescriptor) {
    node.descriptorSizeError = EIO;
    EXPECT_FALSE(openChannel());
    io.terminate();
    EXPECT_EQ(node.closed.size(), 2u);  // the node at once, the event at terminate
    node.descriptorSizeError = 0;
    node.descriptor = {0x06, 0x45};  // cut short: not parsed
    HidIo broken;
    EXPECT_FALSE(broken.open(L"/dev/hidraw7"));
}

// The time-out is 32 bits of milliseconds, poll's is an int: a longer one waits in steps,
// never without limit. No time at all still finds a report already queued.
TEST_F(HidIoTest, LongAndZeroTimeOuts) {
    ASSERT_TRUE(openChannel());
    const int64_t start = node.now;
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 0xFFFFFFFFu));
    EXPECT_EQ(node.now - start, int64_t{0xFFFFFFFFu});
    constexpr int kMost = std::numeric_limits<int>::max();
    EXPECT_EQ(node.pollTimeouts, (std::vector<int>{kMost, kMost, 1, 0}));

    node.queue = {kAnswer};
    const int64_t then = node.now;
    EXPECT_TRUE(io.recvInputReport(buffer.data(), 0));
    EXPECT_EQ(received(), kAnswer);
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 0));  // and nothing when none is
    EXPECT_EQ(node.now, then);
}

// A device without report ids whose input report is longer than the eight data bytes asked
// for: the kernel cuts it to what is asked, and the ninth byte of the caller's buffer (after
// the zero id byte Windows puts first) is the last one written.
TEST_F(HidIoTest, ALongUnnumberedReportStaysInsideTheNineBytes) {
    node.descriptor = descriptors::kUnnumberedMonitor;
    ASSERT_TRUE(openChannel());
    std::vector<uint8_t> longReport(64);
    for (size_t k = 0; k < longReport.size(); ++k) {
        longReport[k] = static_cast<uint8_t>(0x10 + k);
    }
    node.queue = {longReport};
    std::array<uint8_t, kInputReportLength + 1> guarded;
    guarded.fill(0xEE);
    EXPECT_TRUE(io.recvInputReport(guarded.data(), 3000));
    EXPECT_EQ(std::vector<uint8_t>(guarded.begin(), guarded.end()),
              (std::vector<uint8_t>{0, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0xEE}));
}

}  // namespace
