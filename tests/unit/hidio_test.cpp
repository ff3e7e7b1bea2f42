// The channel's rules over a scripted transport: what each way a transfer can end means for
// the result, the log and the connected flag, on every backend alike.
#include "hid/HidIo.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "hid/HidTypes.h"
#include "log/Log.h"
#include "tests/support/CaptureStdout.h"

namespace {

// How the transport answers a call.
struct Answer {
    HidWaitEnd end = HidWaitEnd::AtOnce;
    uint32_t error = 0;
    uint32_t bytes = 264;
    uint32_t waitResult = 0;
};

struct Script {
    Answer next;
    HidOpenStep openFails = HidOpenStep::Events;
    uint32_t openError = 0;
    std::vector<std::string> calls;
    uint32_t timeoutMs = 0;
    uint32_t readLength = 0;
};

class ScriptTransport final : public HidTransport {
public:
    explicit ScriptTransport(Script& s) : script(s) {}
    uint32_t open(const std::wstring&, HidOpenStep& failed) override {
        script.calls.push_back("open");
        failed = script.openFails;
        return script.openError;
    }
    void cancel() override { script.calls.push_back("cancel"); }
    void close() override { script.calls.push_back("close"); }
    uint32_t flush() override { return answer("flush", nullptr); }
    uint32_t getFeature(uint8_t*, uint32_t) override { return answer("feature", nullptr); }
    uint32_t write(const uint8_t*, uint32_t, uint32_t timeoutMs, HidTransfer& how) override {
        script.timeoutMs = timeoutMs;
        return answer("write", &how);
    }
    uint32_t read(uint8_t* buffer, uint32_t length, uint32_t timeoutMs, HidTransfer& how) override {
        script.timeoutMs = timeoutMs;
        script.readLength = length;
        EXPECT_EQ(buffer[0] | buffer[8], 0) << "not zeroed before the read";
        buffer[1] = 0x5A;
        return answer("read", &how);
    }

private:
    uint32_t answer(const char* call, HidTransfer* how) {
        script.calls.push_back(call);
        if (how != nullptr) {
            *how = HidTransfer{script.next.end, script.next.bytes, script.next.waitResult};
        }
        return script.next.error;
    }
    Script& script;
};

class HidIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        CloseLogHandler();
        VerboseFlag() = 0;
        GetLogSettings().fileName = dir.file("hidio.log");
        GetLogSettings().level = LogTrace;
    }
    void TearDown() override {
        CloseLogHandler();
        GetLogSettings() = CLogSettings{};
    }
    // The log's messages so far (closes the log; the next message opens it again).
    std::vector<std::string> Messages() {
        CloseLogHandler();
        const std::string text = ReadFileBytes(dir.file("hidio.log"));
        std::remove(dir.file("hidio.log").c_str());
        std::vector<std::string> messages;
        for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
             start = end + 2) {
            const size_t tab = text.find('\t', text.find('\t', text.find('\t', start) + 1) + 1);
            messages.push_back(text.substr(tab + 1, end - tab - 1));
        }
        return messages;
    }

    TempDir dir;
    Script script;
    HidIo io{std::make_unique<ScriptTransport>(script)};
    std::array<uint8_t, 10> buffer{};
};

using W = HidWaitEnd;
const std::string kSend = "HidIo::sendOutputReport - ";

struct Row {
    Answer answer;
    bool result;
    bool stillConnected;
    std::vector<std::string> lines;
};

TEST_F(HidIoTest, WriteEndings) {
    const Row rows[] = {
        {{W::AtOnce, 0, 100}, true, true, {kSend + "fast write success"}},
        {{W::AtOnce, 31}, false, true, {kSend + "write failed, error=0x0000001f"}},
        {{W::AtOnce, 1167},
         false,
         false,
         {kSend + "write failed, error=0x0000048f", kSend + "Device Not connected #0"}},
        {{W::Completed, 0}, true, true, {}},
        {{W::Completed, 0, 100},
         true,
         true,
         {kSend + "write ok but not all the bytes: sent=264, did=100"}},
        {{W::Completed, 31}, false, true, {kSend + "GetOverlappedResult - error=0x0000001f"}},
        {{W::Completed, 1167},
         false,
         false,
         {kSend + "GetOverlappedResult - error=0x0000048f", kSend + "Device Not connected #1"}},
        {{W::Terminated, 1167}, false, true, {kSend + "Terminate Event signalled"}},
        {{W::TimedOut, 0}, true, true, {}},  // finished right at the limit
        {{W::TimedOut, 996, 0},
         false,
         true,
         {kSend + "GetOverlappedResult - timeout - bytes written 0 - error=0x000003e4"}},
        {{W::TimedOut, 1167, 7},
         false,
         false,
         {kSend + "GetOverlappedResult - timeout - bytes written 7 - error=0x0000048f",
          kSend + "Device Not connected #2"}},
        {{W::WaitFailed, 1167, 0, 0xFFFFFFFF},
         false,
         true,
         {kSend + "Wait - unknown wait result 0xffffffff - error=0x0000048f"}},
    };
    const std::vector<uint8_t> report(264, 0x01);
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(row.answer.end) << " "
                                        << row.answer.error << " " << row.answer.bytes);
        Script s;
        s.next = row.answer;
        HidIo channel(std::make_unique<ScriptTransport>(s));
        EXPECT_EQ(channel.sendOutputReport(report.data(), 264), row.result);
        EXPECT_EQ(s.timeoutMs, 5000u);
        EXPECT_EQ(channel.isConnected(), row.stillConnected);
        EXPECT_EQ(Messages(), row.lines);
    }
}

// A read says nothing unless it fails at once with the device gone; terminate and a failed
// wait never mark it gone.
TEST_F(HidIoTest, ReadEndings) {
    const Row rows[] = {
        {{W::AtOnce, 0}, true, true, {}},
        {{W::AtOnce, 31}, false, true, {}},
        {{W::AtOnce, 1167}, false, false, {"HidIo::recvInputReport - Device Not connected #0"}},
        {{W::Completed, 0}, true, true, {}},
        {{W::Completed, 1167}, false, false, {}},
        {{W::TimedOut, 0}, true, true, {}},
        {{W::TimedOut, 996}, false, true, {}},
        {{W::TimedOut, 1167}, false, false, {}},
        {{W::Terminated, 1167}, false, true, {}},
        {{W::Terminated, 0}, false, true, {}},
        {{W::WaitFailed, 0, 0, 0xFFFFFFFF}, false, true, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << static_cast<int>(row.answer.end) << " " << row.answer.error);
        Script s;
        s.next = row.answer;
        HidIo channel(std::make_unique<ScriptTransport>(s));
        buffer.fill(0xEE);
        EXPECT_EQ(channel.recvInputReport(buffer.data(), 7000), row.result);
        EXPECT_EQ(s.timeoutMs, 7000u);
        EXPECT_EQ(s.readLength, kInputReportLength);
        EXPECT_EQ(buffer[1], 0x5A);  // the transport's bytes are left as they came
        EXPECT_EQ(buffer[9], 0xEE);  // and nothing past the nine is touched
        EXPECT_EQ(channel.isConnected(), row.stillConnected);
        EXPECT_EQ(Messages(), row.lines);
    }
}

// Only 1167 ends the channel, on the flush as on the transfers; a feature request prints its
// failure on the console whatever -v says and leaves the channel as it was.
TEST_F(HidIoTest, FlushAndFeatureFailures) {
    std::array<uint8_t, 64> feature{};
    for (const uint32_t error : {87u, 1167u}) {
        script.next.error = error;
        CaptureOutput capture;
        EXPECT_FALSE(io.getFeature(feature.data(), 64));
        char expected[64];
        std::snprintf(expected, sizeof expected, "HidIo::getFeature - err=%08x\n", error);
        EXPECT_EQ(capture.out(), expected);
    }
    EXPECT_TRUE(io.isConnected());
    EXPECT_TRUE(Messages().empty());

    script.next.error = 31;
    EXPECT_FALSE(io.flushDeviceQueue());
    EXPECT_TRUE(io.isConnected());
    script.next.error = 0;
    EXPECT_TRUE(io.flushDeviceQueue());
    EXPECT_TRUE(io.getFeature(feature.data(), 64));
    script.next.error = 1167;
    EXPECT_FALSE(io.flushDeviceQueue());
    EXPECT_FALSE(io.isConnected());
    EXPECT_EQ(Messages(), (std::vector<std::string>{
                              "HidIo::flushDeviceQueue - failed, error=0x0000001f",
                              "HidIo::flushDeviceQueue - failed, error=0x0000048f",
                              "  device not connected",
                          }));
}

// Once gone, every call refuses with its own line and asks nothing of the transport, until
// terminate, which still closes.
TEST_F(HidIoTest, AfterTheDeviceLeftEveryCallRefusesUntouched) {
    script.next = {W::AtOnce, 1167};
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 3000));
    Messages();
    script.calls.clear();
    script.next = {};
    buffer.fill(0xEE);
    const std::vector<uint8_t> report(264, 0x01);
    EXPECT_FALSE(io.flushDeviceQueue());
    EXPECT_FALSE(io.sendOutputReport(report.data(), 264));
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_FALSE(io.getFeature(buffer.data(), 10));
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_TRUE(script.calls.empty());
    io.terminate();
    EXPECT_EQ(script.calls, (std::vector<std::string>{"cancel", "close"}));
    EXPECT_EQ(Messages(), (std::vector<std::string>{
                              "HidIo::flushDeviceQueue - device is not connected",
                              "HidIo::sendOutputReport - device is not connected",
                              "HidIo::recvInputReport - device is not connected",
                              "HidIo::getFeature - device is not connected",
                              "*************************** HidIo::terminate "
                              "****************************************\n",
                          }));
}

TEST_F(HidIoTest, OpenNamesTheHandleThatFailed) {
    const struct {
        HidOpenStep step;
        const char* line;  // nullptr: none
    } rows[] = {
        {HidOpenStep::Events, nullptr},
        {HidOpenStep::ReadHandle,
         "HidIo::open(\\\\?\\hid#x), create hidDevRead failed, err=0x00000005"},
        {HidOpenStep::WriteHandle,
         "HidIo::open(\\\\?\\hid#x), create hidDevWrite failed, err=0x00000005"},
    };
    for (const auto& row : rows) {
        script.openFails = row.step;
        script.openError = 5;
        EXPECT_FALSE(io.open(L"\\\\?\\hid#x"));
        EXPECT_EQ(Messages(),
                  row.line ? std::vector<std::string>{row.line} : std::vector<std::string>{});
    }
    script.openError = 0;
    EXPECT_TRUE(io.open(L"\\\\?\\hid#x"));
    EXPECT_TRUE(Messages().empty());
}

}  // namespace
