// The Windows transport under real overlapped I/O, with a message-mode named pipe as the
// device: pending writes and reads, their time-outs and cancellation, and terminate from
// another thread. The input-queue call a pipe cannot answer is swapped for a fake.
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hid/HidIo.h"
#include "hid/HidLib.h"
#include "log/Log.h"
#include "tests/support/ConsoleAndFiles.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

HANDLE readHandle = nullptr;  // the handle the channel sized the input queue of

// One overlapped transfer on the device's end; cancelled when it does not finish in time.
std::optional<DWORD> Exchange(HANDLE pipe, bool write, void* data, DWORD length, DWORD ms) {
    const Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    DWORD count = 0;
    const BOOL done = write ? WriteFile(pipe, data, length, &count, &overlapped)
                            : ReadFile(pipe, data, length, &count, &overlapped);
    if (!done && GetLastError() != ERROR_IO_PENDING) {
        return std::nullopt;
    }
    if (WaitForSingleObject(event.get(), ms) != WAIT_OBJECT_0) {
        CancelIo(pipe);
    }
    return GetOverlappedResult(pipe, &overlapped, &count, TRUE) ? std::optional<DWORD>(count)
                                                                : std::nullopt;
}

const Bytes kReport(264, 0x5A);
const Bytes kAnswer = {0x04, 0x3F, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
const std::string kBanner =
    "*************************** HidIo::terminate ****************************************\n";

class HidIoPipeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(HidLib::initialise());
        CloseLogHandler();
        VerboseFlag() = 0;
        GetLogSettings().fileName = dir.file("hidio.log");
        GetLogSettings().level = LogTrace;
        saved = HidLib::functions();
        HidFunctions& table = const_cast<HidFunctions&>(HidLib::functions());
        table.HidD_SetNumInputBuffers = [](HidHandle device, uint32_t count) -> HidBoolean {
            EXPECT_EQ(count, 128u);
            readHandle = device;
            return 1;
        };
    }
    void TearDown() override {
        channel.reset();
        for (size_t i = 0; i < 2; ++i) {  // a listen still pending must end before `connect`
            CancelIo(pipe[i].get());
            DWORD ignored = 0;
            GetOverlappedResult(pipe[i].get(), &connect[i], &ignored, TRUE);
        }
        const_cast<HidFunctions&>(HidLib::functions()) = saved;
        CloseLogHandler();
        GetLogSettings() = CLogSettings{};
    }

    // The channel's two handles each take one of two listening instances, which buffer
    // `inbound` bytes from the channel (0: every write waits for the device). A probe sent
    // through instance 0 then shows on the read handle, or waits, unread, towards the other.
    void Open(DWORD inbound) {
        static int serial = 0;
        const std::wstring name = L"\\\\.\\pipe\\marvane-hidio-" +
                                  std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(++serial);
        channel.reset();
        for (size_t i = 0; i < 2; ++i) {
            pipe[i].reset(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                           PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 2,
                                           4096, inbound, 0, nullptr));
            event[i].reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            connect[i] = OVERLAPPED{};
            connect[i].hEvent = event[i].get();
            ConnectNamedPipe(pipe[i].get(), &connect[i]);
        }
        channel = std::make_unique<HidIo>();
        ASSERT_TRUE(channel->open(name));
        uint8_t probe = 0xEE;
        DWORD available = 0;
        for (const Handle& listened : event) {
            ASSERT_EQ(WaitForSingleObject(listened.get(), 1000), WAIT_OBJECT_0);
        }
        ASSERT_TRUE(Exchange(pipe[0].get(), true, &probe, 1, 1000));
        ASSERT_TRUE(PeekNamedPipe(readHandle, nullptr, 0, nullptr, &available, nullptr));
        toChannel = available == 0 ? 1 : 0;
        ASSERT_TRUE(available == 0 || Exchange(readHandle, false, &probe, 1, 1000));
    }
    bool Deliver(Bytes report) {
        return Exchange(pipe[toChannel].get(), true, report.data(),
                        static_cast<DWORD>(report.size()), 1000)
            .has_value();
    }
    std::optional<Bytes> Take(DWORD ms) {
        Bytes report(1024);
        const auto count = Exchange(pipe[1 - toChannel].get(), false, report.data(), 1024, ms);
        report.resize(count.value_or(0));
        return count ? std::optional<Bytes>(report) : std::nullopt;
    }
    bool Send(const Bytes& report) {
        return channel->sendOutputReport(report.data(), static_cast<uint32_t>(report.size()));
    }
    std::vector<std::string> LogMessages() {  // the messages so far; closes the log
        CloseLogHandler();
        const std::string text = ReadFileBytes(dir.file("hidio.log"));
        std::vector<std::string> messages;
        for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
             start = end + 2) {
            const size_t tab = text.find('\t', text.find('\t', text.find('\t', start) + 1) + 1);
            messages.push_back(text.substr(tab + 1, end - tab - 1));
        }
        return messages;
    }

    TempDir dir;
    HidFunctions saved{};
    std::array<Handle, 2> pipe, event;
    std::array<OVERLAPPED, 2> connect{};
    size_t toChannel = 0;
    std::unique_ptr<HidIo> channel;
};

// With room in the pipe the write completes at once, before the device even looks; without,
// it waits for the device (which lets the write be pending first: 1 s is plenty even on a
// loaded machine, and too short would only show as a second fast write).
TEST_F(HidIoPipeTest, WriteCompletesAtOnceOrWhenTheDeviceTakesIt) {
    for (const bool fast : {true, false}) {
        Open(fast ? 4096 : 0);
        std::optional<Bytes> taken;
        const Handle sent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        const ULONGLONG start = GetTickCount64();
        std::thread deviceSide([&] {
            if (fast) {
                WaitForSingleObject(sent.get(), INFINITE);
            } else {
                Sleep(1000);
            }
            taken = Take(3000);
        });
        EXPECT_TRUE(Send(kReport));
        SetEvent(sent.get());
        if (!fast) {
            EXPECT_GE(GetTickCount64() - start, 950u);  // a tick of slack
        }
        deviceSide.join();
        EXPECT_EQ(taken, kReport);
    }
    EXPECT_EQ(LogMessages(),
              std::vector<std::string>{"HidIo::sendOutputReport - fast write success"});
}

// A read that times out is cancelled silently with its nine bytes zeroed: the next answer
// goes whole to the next read, which touches nothing beyond the nine bytes.
TEST_F(HidIoPipeTest, ReadTimesOutSilentlyOrIsCompletedByTheDevice) {
    Open(4096);
    std::array<uint8_t, 10> buffer;
    buffer.fill(0xAA);
    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(channel->recvInputReport(buffer.data(), 300));
    EXPECT_GE(GetTickCount64() - start, 250u);
    EXPECT_EQ(buffer, (std::array<uint8_t, 10>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA}));
    start = GetTickCount64();  // before the device side starts its 300 ms
    std::thread deviceSide([&] {
        Sleep(300);
        EXPECT_TRUE(Deliver(kAnswer));
    });
    EXPECT_TRUE(channel->recvInputReport(buffer.data(), 3000));
    EXPECT_GE(GetTickCount64() - start, 280u);  // a tick of slack
    deviceSide.join();
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 9), kAnswer);
    EXPECT_EQ(buffer[9], 0xAA);
    EXPECT_TRUE(channel->isConnected());
    EXPECT_TRUE(LogMessages().empty());
}

// The transfer is given 1 s to start waiting, plenty on a loaded machine. A write that its
// own 5 s limit ended instead would log no terminate line; a read would take its 20 s.
TEST_F(HidIoPipeTest, TerminateEndsAWaitingReadAndAWaitingWrite) {
    for (const bool write : {false, true}) {
        Open(write ? 0 : 4096);
        std::thread closer([&] {
            Sleep(1000);
            channel->terminate();
        });
        std::array<uint8_t, 9> buffer{};
        const ULONGLONG start = GetTickCount64();
        EXPECT_FALSE(write ? Send(kReport) : channel->recvInputReport(buffer.data(), 20000));
        EXPECT_LT(GetTickCount64() - start, 15000u) << write;
        closer.join();
    }
    EXPECT_EQ(LogMessages(),
              (std::vector<std::string>{kBanner, kBanner,
                                        "HidIo::sendOutputReport - Terminate Event signalled"}));
}

}  // namespace
