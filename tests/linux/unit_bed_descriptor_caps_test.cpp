// The descriptors the test bed gives its emulated monitors, through the parser: every
// variant a simulated monitor can be set to must come out with the caps and value caps the
// simulated HID library answers for it, or the bed would test the program on other devices
// than the simulator's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hid/linux/ReportDescriptor.h"
#include "tests/linux/bed_Descriptors.h"

namespace {

struct Variant {
    const char* name;
    sim::SimMonitor monitor;
};

sim::SimMonitor With(void (*change)(sim::SimMonitor&)) {
    sim::SimMonitor m;
    change(m);
    return m;
}

TEST(BedDescriptorCaps, EverySimulatedVariantParsesToTheSimulatorsCaps) {
    const std::vector<Variant> variants = {
        {"default", sim::SimMonitor{}},
        {"report id 5", With([](sim::SimMonitor& m) { m.reportId = 5; })},
        {"short reports", With([](sim::SimMonitor& m) {
             m.outputReportLength = 65;
             m.featureReportLength = 20;
         })},
        {"output value does not match",
         With([](sim::SimMonitor& m) { m.outputValueCapsMatch = false; })},
        {"other output values first", With([](sim::SimMonitor& m) { m.otherOutputValues = 2; })},
        {"second collection", With([](sim::SimMonitor& m) { m.secondCollection = true; })},
        {"other usage", With([](sim::SimMonitor& m) {
             m.usagePage = 0xFF00;
             m.usage = 0x0100;
         })},
    };
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.name);
        const sim::SimMonitor& m = v.monitor;
        const std::vector<uint8_t> bytes = bed::MonitorDescriptor(m);
        hidraw::ParsedDescriptor parsed;
        std::string why;
        ASSERT_TRUE(hidraw::ParseReportDescriptor(bytes.data(), bytes.size(), parsed, why)) << why;
        ASSERT_EQ(parsed.collections.size(), m.secondCollection ? 2u : 1u);

        HidCaps caps;
        hidraw::FillCaps(parsed.collections[0], &caps);
        EXPECT_EQ(caps.UsagePage, m.usagePage);
        EXPECT_EQ(caps.Usage, m.usage);
        EXPECT_EQ(caps.InputReportByteLength, 9);
        EXPECT_EQ(caps.OutputReportByteLength, m.outputReportLength);
        EXPECT_EQ(caps.FeatureReportByteLength, m.featureReportLength);
        EXPECT_EQ(caps.NumberInputValueCaps, 1);
        EXPECT_EQ(caps.NumberOutputValueCaps, 1 + m.otherOutputValues);
        EXPECT_EQ(caps.NumberFeatureValueCaps, 1);

        std::vector<HidValueCaps> output(caps.NumberOutputValueCaps);
        uint16_t length = caps.NumberOutputValueCaps;
        ASSERT_EQ(hidraw::FillValueCaps(parsed.collections[0], kHidpOutput, output.data(), &length),
                  kHidpStatusSuccess);
        for (size_t k = 0; k < output.size(); ++k) {
            SCOPED_TRACE(k);
            const bool command = k + 1 == output.size();
            EXPECT_EQ(output[k].UsagePage, m.usagePage);
            EXPECT_EQ(output[k].ReportID, command ? m.reportId : m.reportId + 1 + k);
            const uint16_t usage =
                command && m.outputValueCapsMatch ? (m.usage | 1) : (m.usage | 2);
            EXPECT_EQ(output[k].NotRange.Usage, usage);
            EXPECT_EQ(output[k].ReportCount, m.outputReportLength - 1);
            EXPECT_EQ(output[k].BitSize, 8);
        }
        for (const int kind : {kHidpInput, kHidpFeature}) {
            HidValueCaps one;
            length = 1;
            ASSERT_EQ(hidraw::FillValueCaps(parsed.collections[0], kind, &one, &length),
                      kHidpStatusSuccess);
            EXPECT_EQ(one.ReportID, m.reportId);
            EXPECT_EQ(one.NotRange.Usage, m.usage | (kind == kHidpInput ? 2 : 3));
            EXPECT_EQ(one.ReportCount, kind == kHidpInput ? 8 : m.featureReportLength - 1);
        }
        if (m.secondCollection) {
            hidraw::FillCaps(parsed.collections[1], &caps);
            EXPECT_EQ(caps.UsagePage, 0xFF45);
            EXPECT_EQ(caps.Usage, 0xA100);
            EXPECT_EQ(caps.OutputReportByteLength, 0);
        }
    }
}

}  // namespace
