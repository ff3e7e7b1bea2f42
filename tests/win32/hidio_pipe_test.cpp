// The Windows HID channel under real overlapped I/O. A message-mode named pipe stands in for
// the device: the channel opens the pipe's name twice (its read and its write handle), each
// open taking one of two listening server instances, and its reads and writes pend, time
// out, get cancelled and complete as they do on a HID interface. The three HID calls a pipe
// cannot answer (input queue size, queue flush, feature report) are swapped for fakes in
// the table bound from hid.dll, for the duration of each test.
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hid/HidIo.h"
#include "hid/HidLib.h"
#include "log/Log.h"
#include "platform/Text.h"
#include "tests/support/CaptureStdout.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

struct HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
};
using Handle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// ---------------------------------------------------------------------------------------
// The HID calls a pipe cannot serve.

struct FakeHid {
    int queueSizeCalls = 0;
    HANDLE queueSizeHandle = nullptr;
    uint32_t queueSize = 0;
    int flushCalls = 0;
    HANDLE flushHandle = nullptr;
    DWORD flushError = 0;  // 0: the flush succeeds
    int featureCalls = 0;
    HANDLE featureHandle = nullptr;
    uint32_t featureLength = 0;
    uint8_t featureReportId = 0;
    DWORD featureError = 0;  // 0: the report is delivered
};
FakeHid fake;

HidBoolean HID_API FakeSetNumInputBuffers(HidHandle device, uint32_t count) {
    ++fake.queueSizeCalls;
    fake.queueSizeHandle = device;
    fake.queueSize = count;
    return 1;
}

HidBoolean HID_API FakeFlushQueue(HidHandle device) {
    ++fake.flushCalls;
    fake.flushHandle = device;
    if (fake.flushError != 0) {
        SetLastError(fake.flushError);
        return 0;
    }
    return 1;
}

// Answers with the report id followed by id+1, id+2, ...
HidBoolean HID_API FakeGetFeature(HidHandle device, void* buffer, uint32_t length) {
    ++fake.featureCalls;
    fake.featureHandle = device;
    fake.featureLength = length;
    auto* bytes = static_cast<uint8_t*>(buffer);
    fake.featureReportId = bytes[0];
    if (fake.featureError != 0) {
        SetLastError(fake.featureError);
        return 0;
    }
    for (uint32_t i = 1; i < length; ++i) {
        bytes[i] = static_cast<uint8_t>(bytes[0] + i);
    }
    return 1;
}

// HidLib::functions() hands out a read-only view of the table bound from hid.dll. The table
// itself is an ordinary mutable object, so the test may swap entries and put them back.
HidFunctions& BoundTable() {
    return const_cast<HidFunctions&>(HidLib::functions());
}

// ---------------------------------------------------------------------------------------
// The device end of the pipe.

struct Transfer {
    bool ok = false;
    DWORD bytes = 0;
    DWORD error = 0;
};

// One overlapped transfer on a pipe handle; cancelled (and settled) when it does not finish
// within timeoutMs.
Transfer Exchange(HANDLE pipe, bool write, void* data, DWORD length, DWORD timeoutMs) {
    Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    DWORD count = 0;
    BOOL ok = write ? WriteFile(pipe, data, length, &count, &overlapped)
                    : ReadFile(pipe, data, length, &count, &overlapped);
    if (!ok) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            return {false, 0, error};
        }
        if (WaitForSingleObject(event.get(), timeoutMs) != WAIT_OBJECT_0) {
            CancelIo(pipe);
        }
        ok = GetOverlappedResult(pipe, &overlapped, &count, TRUE);
        if (!ok) {
            return {false, count, GetLastError()};
        }
    }
    return {true, count, 0};
}

// One server instance, listening until a client opens the pipe.
class PipeInstance {
public:
    PipeInstance(const std::wstring& name, DWORD inboundBuffer)
        : pipe(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                PIPE_UNLIMITED_INSTANCES, 4096, inboundBuffer, 0, nullptr)),
          event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        connect.hEvent = event.get();
        if (!ConnectNamedPipe(pipe.get(), &connect)) {
            const DWORD error = GetLastError();
            pending = error == ERROR_IO_PENDING;
        }
    }
    ~PipeInstance() {
        if (pending) {
            CancelIo(pipe.get());
            DWORD ignored = 0;
            GetOverlappedResult(pipe.get(), &connect, &ignored, TRUE);
        }
    }
    PipeInstance(const PipeInstance&) = delete;
    PipeInstance& operator=(const PipeInstance&) = delete;

    bool created() const { return pipe.get() != INVALID_HANDLE_VALUE; }
    bool clientArrived() {
        if (pending && WaitForSingleObject(event.get(), 1000) == WAIT_OBJECT_0) {
            DWORD ignored = 0;
            pending = false;
            return GetOverlappedResult(pipe.get(), &connect, &ignored, FALSE) != FALSE;
        }
        return !pending;
    }
    HANDLE handle() const { return pipe.get(); }

private:
    Handle pipe;
    Handle event;
    OVERLAPPED connect{};
    bool pending = false;
};

// The stand-in device: two listening instances of one message-mode pipe. The server buffers
// 4096 bytes towards the channel; inboundBuffer bytes the other way, so with 0 every output
// report waits until the device takes it.
class PipeDevice {
public:
    explicit PipeDevice(DWORD inboundBuffer, int listening = 2) {
        static int serial = 0;
        name = L"\\\\.\\pipe\\marvane-hidio-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(++serial);
        for (int i = 0; i < listening; ++i) {
            instances[i] = std::make_unique<PipeInstance>(name, inboundBuffer);
        }
    }

    const std::wstring& path() const { return name; }

    // After the channel opened both ends: finds which instance carries its read handle, by
    // sending a probe to one instance and peeking at the read handle.
    bool attach(HANDLE channelRead) {
        if (!instances[0] || !instances[1] || !instances[0]->clientArrived() ||
            !instances[1]->clientArrived()) {
            return false;
        }
        uint8_t probe = 0xEE;
        if (!Exchange(instances[0]->handle(), true, &probe, 1, 1000).ok) {
            return false;
        }
        DWORD available = 0;
        if (!PeekNamedPipe(channelRead, nullptr, 0, nullptr, &available, nullptr)) {
            return false;
        }
        if (available == 0) {
            // The probe waits, unread for good, towards the write-only handle.
            toChannel = 1;
            toDevice = 0;
            return true;
        }
        toChannel = 0;
        toDevice = 1;
        return Exchange(channelRead, false, &probe, 1, 1000).ok;
    }

    // Sends an input report to the channel.
    bool deliver(Bytes report) {
        return Exchange(instances[toChannel]->handle(), true, report.data(),
                        static_cast<DWORD>(report.size()), 1000)
            .ok;
    }

    // Takes the next output report the channel wrote, if one comes within timeoutMs.
    std::optional<Bytes> take(DWORD timeoutMs) {
        Bytes report(1024);
        const Transfer t = Exchange(instances[toDevice]->handle(), false, report.data(),
                                    static_cast<DWORD>(report.size()), timeoutMs);
        if (!t.ok) {
            lastError = t.error;
            return std::nullopt;
        }
        report.resize(t.bytes);
        return report;
    }

    // True when the client end of instance i has been closed.
    bool clientClosed(int i) {
        uint8_t byte = 0;
        const Transfer t = Exchange(instances[i]->handle(), false, &byte, 1, 200);
        return !t.ok && (t.error == ERROR_BROKEN_PIPE || t.error == ERROR_PIPE_NOT_CONNECTED);
    }

    DWORD lastError = 0;

private:
    std::wstring name;
    std::array<std::unique_ptr<PipeInstance>, 2> instances;
    int toChannel = 0;
    int toDevice = 1;
};

Bytes OutputReport() {
    Bytes report(264);
    for (size_t i = 0; i < report.size(); ++i) {
        report[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    return report;
}

const Bytes kAnswer = {0x04, 0x3F, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};

constexpr const char* kBanner =
    "*************************** HidIo::terminate ****************************************\n";

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// ---------------------------------------------------------------------------------------

class HidIoPipeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(HidLib::initialise()); }

    void SetUp() override {
        CloseLogHandler();
        VerboseFlag() = 0;
        logPath = dir.file("hidio.log");
        GetLogSettings().fileName = logPath;
        GetLogSettings().level = LogTrace;

        saved = HidLib::functions();
        fake = FakeHid{};
        BoundTable().HidD_SetNumInputBuffers = FakeSetNumInputBuffers;
        BoundTable().HidD_FlushQueue = FakeFlushQueue;
        BoundTable().HidD_GetFeature = FakeGetFeature;
    }

    void TearDown() override {
        BoundTable() = saved;
        CloseLogHandler();
        GetLogSettings() = CLogSettings{};
    }

    // Opens the channel on the device and lets the device find its two ends.
    void Open(HidIo& channel, PipeDevice& device) {
        ASSERT_TRUE(channel.open(device.path()));
        ASSERT_TRUE(device.attach(fake.queueSizeHandle));
    }

    // The message texts of the log so far; ends the log "run".
    std::vector<std::string> LogMessages() {
        CloseLogHandler();
        const std::string text = ReadFileBytes(logPath);
        std::vector<std::string> messages;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find("\r\n", start);
            if (end == std::string::npos) {
                end = text.size();
            }
            const std::string line = text.substr(start, end - start);
            size_t field = 0;
            for (int tabs = 0; tabs < 3 && field != std::string::npos; ++tabs) {
                field = line.find('\t', field == 0 ? 0 : field + 1);
            }
            messages.push_back(field == std::string::npos ? line : line.substr(field + 1));
            start = end + 2;
        }
        return messages;
    }

    TempDir dir;
    std::string logPath;
    HidFunctions saved{};
};

TEST_F(HidIoPipeTest, OpenTakesBothEndsAndAsksForA128ReportQueueOnTheReadHandle) {
    PipeDevice device(4096);
    HidIo channel;
    Open(channel, device);
    EXPECT_EQ(fake.queueSizeCalls, 1);
    EXPECT_EQ(fake.queueSize, 128u);
    // Only a handle opened for reading may peek.
    DWORD available = 0;
    EXPECT_TRUE(PeekNamedPipe(fake.queueSizeHandle, nullptr, 0, nullptr, &available, nullptr));
    EXPECT_TRUE(channel.isConnected());
}

TEST_F(HidIoPipeTest, OpenFailuresNameTheHandleAndTheErrorAndTerminateClosesWhatWasOpened) {
    {
        HidIo channel;
        EXPECT_FALSE(channel.open(L"\\\\.\\pipe\\marvane-hidio-nobody-listens"));
        channel.terminate();
    }
    // One listening instance: the read end connects, the write end finds the pipe busy.
    PipeDevice device(4096, 1);
    {
        HidIo channel;
        EXPECT_FALSE(channel.open(device.path()));
        EXPECT_EQ(fake.queueSizeCalls, 0);
        channel.terminate();
        EXPECT_TRUE(device.clientClosed(0));
        channel.terminate();
    }
    const std::string path = "\\\\.\\pipe\\marvane-hidio-nobody-listens";
    const std::vector<std::string> expected = {
        "HidIo::open(" + path + "), create hidDevRead failed, err=0x00000002",
        kBanner,
        "HidIo::open(" + Narrow(device.path()) + "), create hidDevWrite failed, err=0x000000e7",
        kBanner,
        kBanner,
    };
    EXPECT_EQ(LogMessages(), expected);
}

TEST_F(HidIoPipeTest, WriteThatCompletesAtOnceIsAFastWrite) {
    PipeDevice device(4096);
    HidIo channel;
    Open(channel, device);
    const Bytes report = OutputReport();
    EXPECT_TRUE(channel.sendOutputReport(report.data(), static_cast<uint32_t>(report.size())));
    EXPECT_EQ(device.take(1000), report);
    EXPECT_EQ(LogMessages(),
              std::vector<std::string>{"HidIo::sendOutputReport - fast write success"});
}

TEST_F(HidIoPipeTest, PendingWriteSucceedsWhenTheDeviceTakesItAndLogsNothing) {
    PipeDevice device(0);
    HidIo channel;
    Open(channel, device);
    const Bytes report = OutputReport();
    std::optional<Bytes> taken;
    std::thread deviceSide([&] {
        Sleep(300);
        taken = device.take(3000);
    });
    const auto start = Clock::now();
    const bool sent = channel.sendOutputReport(report.data(), static_cast<uint32_t>(report.size()));
    const long long elapsed = MillisecondsSince(start);
    deviceSide.join();
    EXPECT_TRUE(sent);
    EXPECT_GE(elapsed, 200);  // it really waited for the device
    EXPECT_EQ(taken, report);
    EXPECT_TRUE(LogMessages().empty());
}

TEST_F(HidIoPipeTest, WriteNobodyTakesTimesOutAfterFiveSecondsAndIsCancelled) {
    PipeDevice device(0);
    HidIo channel;
    Open(channel, device);
    const Bytes report = OutputReport();
    const auto start = Clock::now();
    EXPECT_FALSE(channel.sendOutputReport(report.data(), static_cast<uint32_t>(report.size())));
    const long long elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 4900);
    EXPECT_LT(elapsed, 8000);
    // Cancelled: the device never sees the abandoned report.
    EXPECT_EQ(device.take(300), std::nullopt);
    EXPECT_TRUE(channel.isConnected());

    // The channel stays usable.
    const Bytes next(264, 0x5A);
    std::optional<Bytes> taken;
    std::thread deviceSide([&] { taken = device.take(3000); });
    EXPECT_TRUE(channel.sendOutputReport(next.data(), static_cast<uint32_t>(next.size())));
    deviceSide.join();
    EXPECT_EQ(taken, next);

    // The second write may complete at once when the device side is already reading.
    std::vector<std::string> messages = LogMessages();
    if (messages.size() == 2 && messages[1] == "HidIo::sendOutputReport - fast write success") {
        messages.pop_back();
    }
    EXPECT_EQ(messages,
              std::vector<std::string>{"HidIo::sendOutputReport - GetOverlappedResult - timeout - "
                                       "bytes written 0 - error=0x000003e4"});
}

TEST_F(HidIoPipeTest, ReadOfAQueuedReportCompletesAtOnceWithItsNineBytes) {
    PipeDevice device(4096);
    HidIo channel;
    Open(channel, device);
    ASSERT_TRUE(device.deliver(kAnswer));
    std::array<uint8_t, 16> buffer;
    buffer.fill(0xAA);
    EXPECT_TRUE(channel.recvInputReport(buffer.data(), 3000));
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 9), kAnswer);
    EXPECT_EQ(buffer[9], 0xAA);  // nothing beyond the nine bytes is touched
    EXPECT_TRUE(LogMessages().empty());
}

TEST_F(HidIoPipeTest, PendingReadIsCompletedByTheDevice) {
    PipeDevice device(4096);
    HidIo channel;
    Open(channel, device);
    std::thread deviceSide([&] {
        Sleep(300);
        device.deliver(kAnswer);
    });
    std::array<uint8_t, 9> buffer{};
    const auto start = Clock::now();
    const bool received = channel.recvInputReport(buffer.data(), 3000);
    const long long elapsed = MillisecondsSince(start);
    deviceSide.join();
    EXPECT_TRUE(received);
    EXPECT_GE(elapsed, 200);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), kAnswer);
}

TEST_F(HidIoPipeTest, ReadThatTimesOutIsCancelledSilentlyAndLeavesAZeroedBuffer) {
    PipeDevice device(4096);
    HidIo channel;
    Open(channel, device);
    std::array<uint8_t, 12> buffer;
    buffer.fill(0xAA);
    const auto start = Clock::now();
    EXPECT_FALSE(channel.recvInputReport(buffer.data(), 300));
    EXPECT_GE(MillisecondsSince(start), 250);
    const std::array<uint8_t, 12> expected = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(buffer, expected);

    // The abandoned read is gone: the next answer goes to the next read, whole.
    ASSERT_TRUE(device.deliver(kAnswer));
    std::array<uint8_t, 9> next{};
    EXPECT_TRUE(channel.recvInputReport(next.data(), 1000));
    EXPECT_EQ(Bytes(next.begin(), next.end()), kAnswer);
    EXPECT_TRUE(channel.isConnected());
    EXPECT_TRUE(LogMessages().empty());
}

TEST_F(HidIoPipeTest, TerminateEndsAWaitingReadAndAWaitingWrite) {
    {
        PipeDevice device(4096);
        HidIo channel;
        Open(channel, device);
        std::thread closer([&] {
            Sleep(300);
            channel.terminate();
        });
        std::array<uint8_t, 9> buffer{};
        const auto start = Clock::now();
        EXPECT_FALSE(channel.recvInputReport(buffer.data(), 20000));
        EXPECT_LT(MillisecondsSince(start), 4000);
        closer.join();
    }
    {
        PipeDevice device(0);
        HidIo channel;
        Open(channel, device);
        std::thread closer([&] {
            Sleep(300);
            channel.terminate();
        });
        const Bytes report = OutputReport();
        const auto start = Clock::now();
        EXPECT_FALSE(channel.sendOutputReport(report.data(), static_cast<uint32_t>(report.size())));
        EXPECT_LT(MillisecondsSince(start), 4000);
        closer.join();
    }
    const std::vector<std::string> expected = {
        kBanner, kBanner, "HidIo::sendOutputReport - Terminate Event signalled"};
    EXPECT_EQ(LogMessages(), expected);
}

TEST_F(HidIoPipeTest, FlushQueueGoesToTheReadHandleAndOtherErrorsKeepTheChannel) {
    PipeDevice device(4096);
    HidIo channel;
    Open(channel, device);
    EXPECT_TRUE(channel.flushDeviceQueue());
    EXPECT_EQ(fake.flushHandle, fake.queueSizeHandle);
    fake.flushError = ERROR_GEN_FAILURE;
    EXPECT_FALSE(channel.flushDeviceQueue());
    EXPECT_TRUE(channel.isConnected());
    EXPECT_EQ(LogMessages(),
              std::vector<std::string>{"HidIo::flushDeviceQueue - failed, error=0x0000001f"});
}

TEST_F(HidIoPipeTest, DeviceNotConnectedDisconnectsAndEveryLaterCallRefusesUntouched) {
    PipeDevice device(4096);
    HidIo channel;
    Open(channel, device);
    fake.flushError = ERROR_DEVICE_NOT_CONNECTED;
    EXPECT_FALSE(channel.flushDeviceQueue());
    EXPECT_FALSE(channel.isConnected());

    ASSERT_TRUE(device.deliver(kAnswer));  // waiting, but must not be read
    const Bytes report = OutputReport();
    EXPECT_FALSE(channel.sendOutputReport(report.data(), static_cast<uint32_t>(report.size())));
    std::array<uint8_t, 9> buffer;
    buffer.fill(0xAA);
    EXPECT_FALSE(channel.recvInputReport(buffer.data(), 1000));
    EXPECT_EQ(buffer[0], 0xAA);
    std::array<uint8_t, 23> feature{0x03};
    EXPECT_FALSE(channel.getFeature(feature.data(), static_cast<uint32_t>(feature.size())));
    fake.flushError = 0;
    EXPECT_FALSE(channel.flushDeviceQueue());

    EXPECT_EQ(fake.flushCalls, 1);
    EXPECT_EQ(fake.featureCalls, 0);
    EXPECT_EQ(device.take(200), std::nullopt);
    // The queued answer is still there: nothing read it.
    DWORD available = 0;
    ASSERT_TRUE(PeekNamedPipe(fake.queueSizeHandle, nullptr, 0, nullptr, &available, nullptr));
    EXPECT_EQ(available, kAnswer.size());

    const std::vector<std::string> expected = {
        "HidIo::flushDeviceQueue - failed, error=0x0000048f",
        "  device not connected",
        "HidIo::sendOutputReport - device is not connected",
        "HidIo::recvInputReport - device is not connected",
        "HidIo::getFeature - device is not connected",
        "HidIo::flushDeviceQueue - device is not connected",
    };
    EXPECT_EQ(LogMessages(), expected);
}

TEST_F(HidIoPipeTest, FeatureReportComesThroughTheReadHandle) {
    PipeDevice device(4096);
    HidIo channel;
    Open(channel, device);
    std::array<uint8_t, 23> feature{0x03};
    EXPECT_TRUE(channel.getFeature(feature.data(), static_cast<uint32_t>(feature.size())));
    EXPECT_EQ(fake.featureHandle, fake.queueSizeHandle);
    EXPECT_EQ(fake.featureReportId, 0x03);
    EXPECT_EQ(fake.featureLength, 23u);
    EXPECT_EQ(feature[1], 0x04);
    EXPECT_EQ(feature[22], 0x19);
}

TEST_F(HidIoPipeTest, FeatureFailureIsPrintedOnTheConsoleAndNeverDisconnects) {
    PipeDevice device(4096);
    HidIo channel;
    Open(channel, device);
    const struct {
        DWORD error;
        const char* printed;
    } cases[] = {
        {ERROR_GEN_FAILURE, "HidIo::getFeature - err=0000001f\n"},
        {ERROR_DEVICE_NOT_CONNECTED, "HidIo::getFeature - err=0000048f\n"},
    };
    for (const auto& c : cases) {
        fake.featureError = c.error;
        std::array<uint8_t, 23> feature{0x03};
        CaptureOutput capture;
        EXPECT_FALSE(channel.getFeature(feature.data(), static_cast<uint32_t>(feature.size())));
        EXPECT_EQ(capture.out(), c.printed);
        EXPECT_TRUE(channel.isConnected());
    }
    EXPECT_TRUE(LogMessages().empty());
}

TEST_F(HidIoPipeTest, DestructionReleasesBothEndsAndLogsNothingAfterTerminate) {
    PipeDevice quiet(4096);
    {
        HidIo channel;
        Open(channel, quiet);
    }
    EXPECT_TRUE(quiet.clientClosed(0));
    EXPECT_TRUE(quiet.clientClosed(1));

    PipeDevice owned(4096);
    {
        HidIo channel;
        Open(channel, owned);
        channel.terminate();
        EXPECT_TRUE(owned.clientClosed(0));
        EXPECT_TRUE(owned.clientClosed(1));
    }
    EXPECT_EQ(LogMessages(), std::vector<std::string>{kBanner});
}

}  // namespace
