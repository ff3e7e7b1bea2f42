// HidP_GetValueCaps of the simulated library into buffers of every size: the records that
// fit, their count, and "buffer too small" when some were left out, as the Linux backend
// answers (the program sizes its buffer from the caps and keeps what it is given).
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "hid/HidLib.h"
#include "sim/SimBus.h"

namespace {

constexpr HidStatus kBufferTooSmall = static_cast<HidStatus>(0xC0110007u);

TEST(SimValueCaps, ShortBufferGetsWhatFitsAndSaysSo) {
    sim::SimBus& bus = sim::SimBus::instance();
    bus.reset();
    sim::SimMonitor monitor;
    monitor.serial = L"41-A0009";
    monitor.otherOutputValues = 2;
    const int index = bus.addMonitor(monitor);
    ASSERT_TRUE(HidLib::initialise());
    const HidFunctions& hid = HidLib::functions();
    HidHandle handle = &bus.interfaces[static_cast<size_t>(bus.monitorInterface(index))];
    HidPreparsedData preparsed = nullptr;
    ASSERT_TRUE(hid.HidD_GetPreparsedData(handle, &preparsed));

    const struct {
        uint16_t room;
        HidStatus status;
        uint16_t given;
    } cases[] = {{3, kHidpStatusSuccess, 3},
                 {4, kHidpStatusSuccess, 3},
                 {2, kBufferTooSmall, 2},
                 {0, kBufferTooSmall, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.room);
        std::vector<HidValueCaps> caps(4);
        uint16_t length = c.room;
        EXPECT_EQ(hid.HidP_GetValueCaps(kHidpOutput, caps.data(), &length, preparsed), c.status);
        EXPECT_EQ(length, c.given);
    }
    uint16_t length = 0;
    HidValueCaps one;
    EXPECT_EQ(hid.HidP_GetValueCaps(kHidpInput, &one, &length, preparsed), kBufferTooSmall);
    EXPECT_EQ(length, 0);
    EXPECT_TRUE(hid.HidD_FreePreparsedData(preparsed));
    bus.reset();
}

// The report id each value capability carries: the monitor's for input and output, and for
// the feature report 0 unless the monitor numbers that one too.
TEST(SimValueCaps, ReportIdsOfEachKind) {
    sim::SimBus& bus = sim::SimBus::instance();
    ASSERT_TRUE(HidLib::initialise());
    const HidFunctions& hid = HidLib::functions();
    const struct {
        uint8_t reportId;
        bool numberedFeature;
        uint8_t input, output, feature;
    } cases[] = {{0x00, false, 0, 0, 0}, {0x01, false, 1, 1, 0}, {0x05, true, 5, 5, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.reportId) * 2 + c.numberedFeature);
        bus.reset();
        sim::SimMonitor monitor;
        monitor.reportId = c.reportId;
        monitor.numberedFeature = c.numberedFeature;
        const int index = bus.addMonitor(monitor);
        HidHandle handle = &bus.interfaces[static_cast<size_t>(bus.monitorInterface(index))];
        HidPreparsedData preparsed = nullptr;
        ASSERT_TRUE(hid.HidD_GetPreparsedData(handle, &preparsed));
        const std::pair<int, uint8_t> kinds[] = {
            {kHidpInput, c.input}, {kHidpOutput, c.output}, {kHidpFeature, c.feature}};
        for (const auto& [kind, id] : kinds) {
            HidValueCaps caps{};
            uint16_t length = 1;
            EXPECT_EQ(hid.HidP_GetValueCaps(kind, &caps, &length, preparsed), kHidpStatusSuccess);
            EXPECT_EQ(caps.ReportID, id) << kind;
        }
        EXPECT_TRUE(hid.HidD_FreePreparsedData(preparsed));
    }
    bus.reset();
}

}  // namespace
