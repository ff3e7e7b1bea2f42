// The hidraw channel on a scripted node, for what the bed's nodes never do: interrupted and
// empty waits, hang-ups, bus-specific errors, refused writes, endless input, open descriptors.
#include <gtest/gtest.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <vector>

#include "hid/HidIo.h"
#include "hid/HidLib.h"
#include "hid/linux/HidrawSys.h"
#include "tests/support/ConsoleAndFiles.h"
#include "tests/support/Descriptors.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kDevice = 100;
constexpr int kEvent = 101;

struct Poll {  // one poll of the device: what it says, after how long
    short events = 0;
    int error = 0;
    int64_t ms = 0;
    bool terminate = false;
};

// Polls run their script, then are ready while reads are queued, else time out; the clock
// moves only there.
struct Node {
    Bytes descriptor = descriptors::kMonitor;
    std::deque<Poll> polls;
    std::deque<std::pair<Bytes, int>> reads;  // a report, or the errno its read fails with
    std::deque<int> writeErrors;              // then every write fails with writeError
    int writeError = 0, featureError = 0, sizeError = 0;
    int64_t now = 1000000;
    bool terminated = false;
    std::vector<Bytes> written;
    std::vector<int> timeouts, closed;
};
Node* g = nullptr;

int Fail(int error) {
    errno = error;
    return -1;
}

const hidraw::SystemCalls kCalls = {
    [](const char*, int) { return kDevice; },
    [](int fd) { return g->closed.push_back(fd), 0; },
    [](int fd, void* out, size_t room) -> ssize_t {
        if (fd == kEvent || g->reads.empty()) {
            return Fail(EAGAIN);
        }
        const auto [bytes, error] = g->reads.front();
        g->reads.pop_front();
        if (error != 0) {
            return Fail(error);
        }
        std::memcpy(out, bytes.data(), std::min(room, bytes.size()));
        return static_cast<ssize_t>(std::min(room, bytes.size()));
    },
    [](int fd, const void* in, size_t count) -> ssize_t {
        if (fd == kEvent) {
            g->terminated = true;
            return static_cast<ssize_t>(count);
        }
        int error = g->writeError;
        if (!g->writeErrors.empty()) {
            error = g->writeErrors.front();
            g->writeErrors.pop_front();
        }
        if (error != 0) {
            return Fail(error);
        }
        g->written.emplace_back(static_cast<const uint8_t*>(in),
                                static_cast<const uint8_t*>(in) + count);
        return static_cast<ssize_t>(count);
    },
    [](int, unsigned long request, void* argument) {
        if (_IOC_NR(request) == _IOC_NR(HIDIOCGRDESCSIZE)) {
            *static_cast<int*>(argument) = static_cast<int>(g->descriptor.size());
            return g->sizeError != 0 ? Fail(g->sizeError) : 0;
        }
        if (_IOC_NR(request) == _IOC_NR(HIDIOCGRDESC)) {
            std::memcpy(static_cast<hidraw_report_descriptor*>(argument)->value,
                        g->descriptor.data(), g->descriptor.size());
            return 0;
        }
        return Fail(g->featureError != 0 ? g->featureError : ENOTTY);
    },
    [](pollfd* fds, nfds_t count, int timeoutMs) {
        pollfd& event = fds[count - 1];
        fds[0].revents = 0;
        event.revents = g->terminated ? POLLIN : 0;
        if (g->terminated || count == 1) {  // count 1: the pause, on the terminate event alone
            g->now += g->terminated ? 0 : timeoutMs;
            return g->terminated ? 1 : 0;
        }
        g->timeouts.push_back(timeoutMs);
        Poll step{static_cast<short>(g->reads.empty() ? 0 : POLLIN), 0,
                  g->reads.empty() ? timeoutMs : 0};
        if (!g->polls.empty()) {
            step = g->polls.front();
            g->polls.pop_front();
        }
        g->now += step.ms;
        if (step.error != 0) {
            return Fail(step.error);
        }
        event.revents = step.terminate ? POLLIN : 0;
        fds[0].revents = step.events;
        return (fds[0].revents != 0) + (event.revents != 0);
    },
    [](unsigned int, int) { return kEvent; },
    [] { return g->now; },
};

const Bytes kAnswer = {0x01, 0x00, 0, 0, 0, 0, 0, 0, 0x5A};
const Bytes kReport = [] {  // the monitor's output report: 264 bytes, id 1
    Bytes report(264, 0xA5);
    report[0] = 0x01;
    return report;
}();

class HidrawChannel : public ::testing::Test {
protected:
    void SetUp() override {
        g = &node;
        previous = hidraw::SetSystemCalls(kCalls);
        ASSERT_TRUE(HidLib::initialise());
        ASSERT_TRUE(io.open(L"/dev/hidraw7"));
    }
    void TearDown() override { hidraw::SetSystemCalls(previous); }
    Bytes received() const { return {buffer.begin(), buffer.begin() + 9}; }
    bool receive(uint32_t ms) { return io.recvInputReport(buffer.data(), ms); }

    std::array<uint8_t, kInputReportLength + 1> buffer{};
    Node node;
    hidraw::SystemCalls previous{};
    HidIo io;
};

// A wait interrupted or woken with nothing goes on for the time left on the monotonic clock;
// terminate ends it at once.
TEST_F(HidrawChannel, WaitsKeepTheirTimeLimit) {
    node.polls = {{0, EINTR, 1200}, {POLLIN, 0, 300}, {POLLIN, 0, 100}};
    node.reads = {{{}, EAGAIN}, {kAnswer, 0}};  // woken with nothing, then the answer
    EXPECT_TRUE(receive(3000));
    EXPECT_EQ(received(), kAnswer);
    EXPECT_EQ(node.timeouts, (std::vector<int>{3000, 1800, 1498}));

    const int64_t start = node.now;
    node.polls = {{0, 0, 10, true}};
    EXPECT_FALSE(receive(7000));
    EXPECT_EQ(node.now - start, 10);
    EXPECT_TRUE(io.isConnected());
}

TEST_F(HidrawChannel, ReportsQueuedBeforeAHangUpAreReadThenTheChannelStops) {
    node.polls = {{POLLIN | POLLHUP}, {POLLHUP}};
    node.reads = {{kAnswer, 0}};
    EXPECT_TRUE(receive(3000));
    EXPECT_EQ(received(), kAnswer);
    EXPECT_FALSE(receive(3000));
    EXPECT_FALSE(io.isConnected());
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
            node.reads = {{{}, error}, {kAnswer, 0}};
            node.writeError = error;
            EXPECT_FALSE(call == 0   ? channel.recvInputReport(buffer.data(), 3000)
                         : call == 1 ? channel.sendOutputReport(kReport.data(), 264)
                                     : channel.flushDeviceQueue());
            EXPECT_EQ(channel.isConnected(), !(call == 1 ? goneWriting : goneReading));
        }
    }
}

// Whole reports of the declared length and id only; a write refused for the moment is tried
// again for at most five seconds, and terminate ends that at once.
TEST_F(HidrawChannel, WritesWholeDeclaredReportsWithinFiveSeconds) {
    node.writeErrors = {EINTR, EAGAIN, EAGAIN};
    EXPECT_TRUE(io.sendOutputReport(kReport.data(), 264));
    Bytes other = kReport;
    other[0] = 0x02;
    EXPECT_FALSE(io.sendOutputReport(kReport.data(), 263));
    EXPECT_FALSE(io.sendOutputReport(other.data(), 264));
    EXPECT_EQ(node.written, std::vector<Bytes>{kReport});

    node.writeError = EAGAIN;
    const int64_t start = node.now;
    EXPECT_FALSE(io.sendOutputReport(kReport.data(), 264));
    EXPECT_GE(node.now - start, 5000);
    EXPECT_LT(node.now - start, 5010);
    node.terminated = true;
    const int64_t then = node.now;
    EXPECT_FALSE(io.sendOutputReport(kReport.data(), 264));
    EXPECT_EQ(node.now, then);
    EXPECT_TRUE(io.isConnected());
}

// Past the deadline only what the kernel had queued (64 reports) is looked at, so a device
// whose other collection never stops sending cannot hold the read.
TEST_F(HidrawChannel, ADeviceThatNeverStopsCannotHoldARead) {
    node.descriptor = descriptors::MonitorWithSecondCollection();
    HidIo first;
    ASSERT_TRUE(first.open(L"/dev/hidraw7&col01"));
    node.reads.assign(200, {{0x02, 0x01, 0, 0, 0, 0, 0, 0, 0x77}, 0});
    EXPECT_FALSE(first.recvInputReport(buffer.data(), 0));
    EXPECT_EQ(node.reads.size(), 200u - 65u);
}

// The code the user sees for a failed feature request is the one Windows gives.
TEST_F(HidrawChannel, FeatureRequests) {
    const std::pair<int, const char*> cases[] = {
        {ENODEV, "0000048f"}, {EIO, "0000001f"}, {EPIPE, "0000001f"}, {EINVAL, "00000057"}};
    Bytes feature(128, 0xEE);
    feature[0] = 0x01;
    for (const auto& [error, shown] : cases) {
        node.featureError = error;
        CaptureOutput capture;
        EXPECT_FALSE(io.getFeature(feature.data(), 128));
        EXPECT_EQ(capture.out(), std::string("HidIo::getFeature - err=") + shown + "\n") << error;
    }
}

// A node whose descriptor cannot be read is no channel.
TEST_F(HidrawChannel, AnUnreadableDescriptorIsNoChannel) {
    node.sizeError = EIO;
    HidIo broken;
    EXPECT_FALSE(broken.open(L"/dev/hidraw7"));
}

}  // namespace
