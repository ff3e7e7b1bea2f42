// The channel's rules over a scripted transport, for the ways a transfer ends that the
// simulated monitor never reaches (the video controller's tests run the rest).
#include "hid/HidIo.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "log/Log.h"
#include "tests/support/ConsoleAndFiles.h"

namespace {

using W = HidWaitEnd;

// How the transport answers every call, and what it was asked.
struct Script {
    W end = W::AtOnce;
    uint32_t error = 0, bytes = 264, timeoutMs = 0;
    HidOpenStep openFails = HidOpenStep::Events;
    std::string calls;
};

class ScriptTransport final : public HidTransport {
public:
    explicit ScriptTransport(Script& s) : script(s) {}
    uint32_t open(const std::wstring&, HidOpenStep& failed) override {
        failed = script.openFails;
        return answer("open ", nullptr, 0);
    }
    void cancel() override { script.calls += "cancel "; }
    void close() override { script.calls += "close "; }
    uint32_t flush() override { return answer("flush ", nullptr, 0); }
    uint32_t getFeature(uint8_t*, uint32_t) override { return answer("feature ", nullptr, 0); }
    uint32_t write(const uint8_t*, uint32_t, uint32_t ms, HidTransfer& how) override {
        return answer("write ", &how, ms);
    }
    uint32_t read(uint8_t* buffer, uint32_t length, uint32_t ms, HidTransfer& how) override {
        EXPECT_EQ(length, kInputReportLength);
        EXPECT_EQ(buffer[0] | buffer[8], 0) << "not zeroed before the read";
        return answer("read ", &how, ms);
    }

private:
    uint32_t answer(const char* call, HidTransfer* how, uint32_t ms) {
        script.calls += call;
        script.timeoutMs = ms;
        if (how != nullptr) {
            *how = HidTransfer{script.end, script.bytes, 0x80};
        }
        return script.error;
    }
    Script& script;
};

class HidIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        CloseLogHandler();
        VerboseFlag() = 0;
        GetLogSettings() = {.level = LogTrace, .fileName = dir.file("hidio.log")};
    }
    void TearDown() override {
        CloseLogHandler();
        GetLogSettings() = CLogSettings{};
    }
    // The log's messages so far, each followed by "|"; empties the log.
    std::string Messages() {
        CloseLogHandler();
        const std::string text = ReadFileBytes(dir.file("hidio.log"));
        std::remove(dir.file("hidio.log").c_str());
        std::string messages;
        for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
             start = end + 2) {
            const size_t tab = text.find('\t', text.find('\t', text.find('\t', start) + 1) + 1);
            messages += text.substr(tab + 1, end - tab - 1) + "|";
        }
        return messages;
    }

    TempDir dir;
    Script script;
    HidIo io{std::make_unique<ScriptTransport>(script)};
    std::array<uint8_t, 10> buffer{};
};

// Only 1167 ends the channel; a read logs it only when it fails at once. Terminate and a
// failed wait never mark the device gone; a write finishing right at its limit is good.
TEST_F(HidIoTest, EveryWayATransferEnds) {
    const struct {
        bool write;
        W end;
        uint32_t error, bytes;
        const char* result;  // "ok" or "failed", then " gone" when the channel ended
        const char* log;     // ~ stands for "HidIo::sendOutputReport - "
    } rows[] = {
        // clang-format off
        {true, W::AtOnce, 0, 100, "ok", "~fast write success|"},
        {true, W::AtOnce, 1167, 0, "failed gone", "~write failed, error=0x0000048f|~Device Not connected #0|"},
        {true, W::Completed, 0, 100, "ok", "~write ok but not all the bytes: sent=264, did=100|"},
        {true, W::Completed, 1167, 0, "failed gone", "~GetOverlappedResult - error=0x0000048f|~Device Not connected #1|"},
        {true, W::Terminated, 1167, 0, "failed", "~Terminate Event signalled|"},
        {true, W::TimedOut, 0, 264, "ok", ""},
        {true, W::TimedOut, 1167, 7, "failed gone", "~GetOverlappedResult - timeout - bytes written 7 - error=0x0000048f|~Device Not connected #2|"},
        {true, W::WaitFailed, 1167, 0, "failed", "~Wait - unknown wait result 0x00000080 - error=0x0000048f|"},
        {false, W::AtOnce, 1167, 0, "failed gone", "HidIo::recvInputReport - Device Not connected #0|"},
        {false, W::Completed, 1167, 0, "failed gone", ""},
        {false, W::TimedOut, 0, 9, "ok", ""},
        {false, W::Terminated, 1167, 0, "failed", ""},
        {false, W::WaitFailed, 0, 0, "failed", ""},
        // clang-format on
    };
    const std::vector<uint8_t> report(264, 0x01);
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.write << " " << int(row.end) << " " << row.error);
        Script s;
        s.end = row.end;
        s.error = row.error;
        s.bytes = row.bytes;
        HidIo channel(std::make_unique<ScriptTransport>(s));
        buffer.fill(0xEE);
        const bool ok = row.write ? channel.sendOutputReport(report.data(), 264)
                                  : channel.recvInputReport(buffer.data(), 7000);
        EXPECT_EQ(std::string(ok ? "ok" : "failed") + (channel.isConnected() ? "" : " gone"),
                  row.result);
        EXPECT_EQ(s.timeoutMs, row.write ? 5000u : 7000u);
        std::string expected = row.log;
        for (size_t at; (at = expected.find('~')) != std::string::npos;) {
            expected.replace(at, 1, "HidIo::sendOutputReport - ");
        }
        EXPECT_EQ(Messages(), expected);
        EXPECT_EQ(buffer[9], 0xEE);  // nothing past the nine bytes is touched
    }
}

// A feature request prints its failure whatever -v says and leaves the channel as it was.
// Once gone, every call refuses with its own line and asks nothing of the transport;
// terminate still signals the wait and closes.
TEST_F(HidIoTest, FlushFeatureAndTheRefusalsAfterTheDeviceLeft) {
    script.error = 1167;
    {
        CaptureOutput capture;
        EXPECT_FALSE(io.getFeature(buffer.data(), 10));
        EXPECT_EQ(capture.out(), "HidIo::getFeature - err=0000048f\n");
    }
    script.error = 31;
    EXPECT_FALSE(io.flushDeviceQueue());
    EXPECT_TRUE(io.isConnected());
    script.error = 1167;
    EXPECT_FALSE(io.flushDeviceQueue());
    EXPECT_EQ(script.calls, "feature flush flush ");

    script = Script{};
    buffer.fill(0xEE);
    EXPECT_FALSE(io.flushDeviceQueue());
    EXPECT_FALSE(io.sendOutputReport(buffer.data(), 10));
    EXPECT_FALSE(io.recvInputReport(buffer.data(), 3000));
    EXPECT_FALSE(io.getFeature(buffer.data(), 10));
    EXPECT_EQ(buffer[0], 0xEE);
    io.terminate();
    EXPECT_EQ(script.calls, "cancel close ");
    EXPECT_EQ(Messages(),
              "HidIo::flushDeviceQueue - failed, error=0x0000001f|"
              "HidIo::flushDeviceQueue - failed, error=0x0000048f|  device not connected|"
              "HidIo::flushDeviceQueue - device is not connected|"
              "HidIo::sendOutputReport - device is not connected|"
              "HidIo::recvInputReport - device is not connected|"
              "HidIo::getFeature - device is not connected|"
              "*************************** HidIo::terminate "
              "****************************************\n|");
}

TEST_F(HidIoTest, OpenNamesTheHandleThatFailed) {
    script.error = 5;
    for (const HidOpenStep step :
         {HidOpenStep::Events, HidOpenStep::ReadHandle, HidOpenStep::WriteHandle}) {
        script.openFails = step;
        EXPECT_FALSE(io.open(L"\\\\?\\hid#x"));
    }
    script.error = 0;
    EXPECT_TRUE(io.open(L"\\\\?\\hid#x"));
    EXPECT_EQ(Messages(),
              "HidIo::open(\\\\?\\hid#x), create hidDevRead failed, err=0x00000005|"
              "HidIo::open(\\\\?\\hid#x), create hidDevWrite failed, err=0x00000005|");
}

}  // namespace
