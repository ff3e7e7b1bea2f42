// The Windows transport's overlapped reads, with a message-mode named pipe as the device: a
// read that times out must be cancelled, or it would take the next answer from the read
// after it. (Whole updates through Wine's HID stack run on the bed, tests/linux.) The
// input-queue call a pipe cannot answer is swapped for a fake.
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <memory>
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

// One overlapped write on the device's end, cancelled when it does not finish within 1 s.
bool Write(HANDLE pipe, Bytes& report) {
    const Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    DWORD count = 0;
    if (!WriteFile(pipe, report.data(), DWORD(report.size()), &count, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    if (WaitForSingleObject(event.get(), 1000) != WAIT_OBJECT_0) {
        CancelIo(pipe);
    }
    return GetOverlappedResult(pipe, &overlapped, &count, TRUE);
}

class HidIoPipeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(HidLib::initialise());
        CloseLogHandler();
        VerboseFlag() = 0;
        GetLogSettings() = {.level = LogTrace, .fileName = dir.file("hidio.log")};
        saved = HidLib::functions();
        HidFunctions& table = const_cast<HidFunctions&>(HidLib::functions());
        table.HidD_SetNumInputBuffers = [](HidHandle, uint32_t count) -> HidBoolean {
            EXPECT_EQ(count, 128u);
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

    // The channel's two handles each take one of two listening instances; an answer goes
    // out through both, and waits unread towards the write handle.
    void Open() {
        const std::wstring name =
            L"\\\\.\\pipe\\marvane-hidio-" + std::to_wstring(GetCurrentProcessId());
        for (size_t i = 0; i < 2; ++i) {
            pipe[i].reset(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                           PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 2,
                                           4096, 4096, 0, nullptr));
            event[i].reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            connect[i].hEvent = event[i].get();
            ConnectNamedPipe(pipe[i].get(), &connect[i]);
        }
        channel = std::make_unique<HidIo>();
        ASSERT_TRUE(channel->open(name));
        for (const Handle& listened : event) {
            ASSERT_EQ(WaitForSingleObject(listened.get(), 1000), WAIT_OBJECT_0);
        }
    }
    bool Deliver(Bytes report) {
        bool sent = true;
        for (const Handle& end : pipe) {
            sent = Write(end.get(), report) && sent;
        }
        return sent;
    }

    TempDir dir;
    HidFunctions saved{};
    std::array<Handle, 2> pipe, event;
    std::array<OVERLAPPED, 2> connect{};
    std::unique_ptr<HidIo> channel;
};

// A read that times out is cancelled silently with its nine bytes zeroed: the next answer,
// waited for or already there, goes whole to the next read, which touches nothing beyond
// the nine bytes.
TEST_F(HidIoPipeTest, ReadTimesOutSilentlyOrTakesTheNextAnswer) {
    const Bytes answer = {0x04, 0x3F, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
    Open();
    std::array<uint8_t, 10> buffer;
    buffer.fill(0xAA);
    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(channel->recvInputReport(buffer.data(), 300));
    EXPECT_GE(GetTickCount64() - start, 250u);
    EXPECT_EQ(buffer, (std::array<uint8_t, 10>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA}));
    start = GetTickCount64();  // before the device side starts its 300 ms
    std::thread deviceSide([&] {
        Sleep(300);
        EXPECT_TRUE(Deliver(answer));
    });
    EXPECT_TRUE(channel->recvInputReport(buffer.data(), 3000));
    EXPECT_GE(GetTickCount64() - start, 280u);  // a tick of slack
    deviceSide.join();
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 9), answer);
    EXPECT_EQ(buffer[9], 0xAA);

    ASSERT_TRUE(Deliver({0x04, 0x01}));
    EXPECT_TRUE(channel->recvInputReport(buffer.data(), 1000));
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 9), (Bytes{0x04, 0x01, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(channel->isConnected());
    CloseLogHandler();
    EXPECT_EQ(ReadFileBytes(dir.file("hidio.log")), "");
}

}  // namespace
