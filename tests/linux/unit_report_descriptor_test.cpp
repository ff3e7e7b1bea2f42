// The report-descriptor parser: what it answers for whole descriptors (collections, report
// lengths, value capabilities as Windows gives them), and that broken ones are refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hid/linux/ReportDescriptor.h"
#include "tests/support/Descriptors.h"

namespace {

using descriptors::InCollection;
using hidraw::CollectionCaps;
using hidraw::ParsedDescriptor;

struct Expected {
    uint16_t usagePage;
    uint16_t usage;
    uint16_t input, output, feature;  // report byte lengths
    uint16_t inputValues, outputValues, featureValues;
    uint16_t inputButtons, outputButtons, featureButtons;
    uint16_t linkNodes;
};

struct GoodCase {
    const char* name;
    std::vector<uint8_t> bytes;
    std::vector<Expected> collections;
};

ParsedDescriptor Parse(const std::vector<uint8_t>& bytes) {
    ParsedDescriptor parsed;
    std::string why;
    EXPECT_TRUE(hidraw::ParseReportDescriptor(bytes.data(), bytes.size(), parsed, why)) << why;
    return parsed;
}

TEST(ReportDescriptor, AnswersCollectionsLengthsAndCapabilityCounts) {
    const std::vector<GoodCase> cases = {
        {"monitor", descriptors::kMonitor, {{0xFF45, 0xA000, 9, 264, 128, 1, 1, 1, 0, 0, 0, 1}}},
        {"monitor with a second collection relying on carried-over globals",
         descriptors::MonitorWithSecondCollection(),
         {{0xFF45, 0xA000, 9, 264, 128, 1, 1, 1, 0, 0, 0, 1},
          {0xFF45, 0xA100, 9, 0, 0, 1, 0, 0, 0, 0, 0, 1}}},
        // Buttons and arrays are button caps; the constant byte and LED padding add length.
        {"keyboard", descriptors::kKeyboard, {{0x0001, 0x0006, 9, 2, 0, 0, 0, 0, 2, 1, 0, 1}}},
        {"three collections",
         descriptors::kComposite,
         {{0x0001, 0x0002, 4, 0, 0, 2, 0, 0, 1, 0, 0, 2},
          {0x000C, 0x0001, 3, 0, 0, 0, 0, 0, 1, 0, 0, 1},
          {0xFF00, 0x0001, 0, 0, 64, 0, 0, 1, 0, 0, 0, 1}}},
        // Long items carry nothing and are skipped.
        {"long item skipped",
         InCollection({0xFE, 0x03, 0x42, 0x01, 0x02, 0x03, 0x75, 0x08, 0x95, 0x04, 0x81, 0x02}),
         {{0xFF00, 0x0001, 5, 0, 0, 1, 0, 0, 0, 0, 0, 1}}},
        // Zero-length fields put nothing on the wire: no report, no capability.
        {"zero report count",
         InCollection({0x75, 0x08, 0x95, 0x00, 0x09, 0x02, 0x81, 0x02}),
         {{0xFF00, 0x0001, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}}},
        {"zero report size",
         InCollection({0x75, 0x00, 0x95, 0x10, 0x09, 0x02, 0x91, 0x02}),
         {{0xFF00, 0x0001, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}}},
        // Without report ids the id byte still counts; bits round up to whole bytes.
        {"unnumbered, odd bit count",
         InCollection({0x75, 0x03, 0x95, 0x03, 0x09, 0x02, 0x81, 0x02}),
         {{0xFF00, 0x0001, 3, 0, 0, 1, 0, 0, 0, 0, 0, 1}}},
        // The longest of several reports of one kind.
        {"longest report of a kind",
         InCollection({0x75, 0x08, 0x85, 0x01, 0x95, 0x04, 0x09, 0x02, 0x91,
                       0x02, 0x85, 0x02, 0x95, 0x20, 0x09, 0x03, 0x91, 0x02,
                       0x85, 0x03, 0x95, 0x02, 0x09, 0x04, 0x91, 0x02}),
         {{0xFF00, 0x0001, 0, 33, 0, 0, 3, 0, 0, 0, 0, 1}}},
        // Push keeps the globals, pop brings them back (report size 8 again after 16).
        {"push and pop",
         InCollection({0x75, 0x08, 0x95, 0x02, 0xA4, 0x75, 0x10, 0x09, 0x02, 0x81, 0x02, 0xB4, 0x09,
                       0x03, 0x81, 0x02}),
         {{0xFF00, 0x0001, 7, 0, 0, 2, 0, 0, 0, 0, 0, 1}}},
    };
    for (const GoodCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ParsedDescriptor parsed = Parse(c.bytes);
        ASSERT_EQ(parsed.collections.size(), c.collections.size());
        for (size_t k = 0; k < c.collections.size(); ++k) {
            SCOPED_TRACE(k);
            const Expected& e = c.collections[k];
            HidCaps caps;
            ASSERT_EQ(hidraw::FillCaps(parsed.collections[k], &caps), kHidpStatusSuccess);
            EXPECT_EQ(caps.UsagePage, e.usagePage);
            EXPECT_EQ(caps.Usage, e.usage);
            EXPECT_EQ(caps.InputReportByteLength, e.input);
            EXPECT_EQ(caps.OutputReportByteLength, e.output);
            EXPECT_EQ(caps.FeatureReportByteLength, e.feature);
            EXPECT_EQ(caps.NumberInputValueCaps, e.inputValues);
            EXPECT_EQ(caps.NumberOutputValueCaps, e.outputValues);
            EXPECT_EQ(caps.NumberFeatureValueCaps, e.featureValues);
            EXPECT_EQ(caps.NumberInputButtonCaps, e.inputButtons);
            EXPECT_EQ(caps.NumberOutputButtonCaps, e.outputButtons);
            EXPECT_EQ(caps.NumberFeatureButtonCaps, e.featureButtons);
            EXPECT_EQ(caps.NumberLinkCollectionNodes, e.linkNodes);
        }
    }
}

struct ValueExpected {
    uint8_t reportId;
    uint16_t usagePage;
    uint16_t usage;  // UsageMin for a range
    bool isRange;
    uint16_t usageMax;
    uint16_t bitSize;
    uint16_t reportCount;
    int32_t logicalMin, logicalMax;
    bool isAbsolute;
};

std::vector<HidValueCaps> ValueCapsOf(const CollectionCaps& collection, int kind) {
    HidCaps caps;
    hidraw::FillCaps(collection, &caps);
    const uint16_t declared = kind == kHidpInput    ? caps.NumberInputValueCaps
                              : kind == kHidpOutput ? caps.NumberOutputValueCaps
                                                    : caps.NumberFeatureValueCaps;
    std::vector<HidValueCaps> out(declared);
    uint16_t length = declared;
    const HidStatus status = hidraw::FillValueCaps(collection, kind, out.data(), &length);
    EXPECT_EQ(status, declared == 0 ? kHidpStatusUsageNotFound : kHidpStatusSuccess);
    EXPECT_EQ(length, declared);
    return out;
}

void ExpectValues(const std::vector<HidValueCaps>& got, const std::vector<ValueExpected>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t k = 0; k < want.size(); ++k) {
        SCOPED_TRACE(k);
        const HidValueCaps& v = got[k];
        const ValueExpected& e = want[k];
        EXPECT_EQ(v.ReportID, e.reportId);
        EXPECT_EQ(v.UsagePage, e.usagePage);
        EXPECT_EQ(v.IsRange, e.isRange ? 1 : 0);
        if (e.isRange) {
            EXPECT_EQ(v.Range.UsageMin, e.usage);
            EXPECT_EQ(v.Range.UsageMax, e.usageMax);
        } else {
            EXPECT_EQ(v.NotRange.Usage, e.usage);
        }
        EXPECT_EQ(v.BitSize, e.bitSize);
        EXPECT_EQ(v.ReportCount, e.reportCount);
        EXPECT_EQ(v.LogicalMin, e.logicalMin);
        EXPECT_EQ(v.LogicalMax, e.logicalMax);
        EXPECT_EQ(v.IsAbsolute, e.isAbsolute ? 1 : 0);
    }
}

TEST(ReportDescriptor, MonitorValueCapsAreWhatTheCommandSearchNeeds) {
    const ParsedDescriptor parsed = Parse(descriptors::kMonitor);
    const CollectionCaps& c = parsed.collections.at(0);
    ExpectValues(ValueCapsOf(c, kHidpInput), {{1, 0xFF45, 0xA002, false, 0, 8, 8, 0, 255, true}});
    ExpectValues(ValueCapsOf(c, kHidpOutput),
                 {{1, 0xFF45, 0xA001, false, 0, 8, 263, 0, 255, true}});
    ExpectValues(ValueCapsOf(c, kHidpFeature),
                 {{1, 0xFF45, 0xA003, false, 0, 8, 127, 0, 255, true}});
    const HidValueCaps output = ValueCapsOf(c, kHidpOutput).at(0);
    EXPECT_EQ(output.LinkUsagePage, 0xFF45);
    EXPECT_EQ(output.LinkUsage, 0xA000);
    EXPECT_EQ(output.PhysicalMax, 255);
    EXPECT_TRUE(parsed.numberedReports);
}

TEST(ReportDescriptor, ValueCapsFollowUsagesInDescriptorOrder) {
    // Output reports 2 and 3 of usage 0xA002 come before the command value on report 1;
    // then a range of four usages, and three usages over five fields (the last takes three).
    const ParsedDescriptor parsed = Parse(InCollection({
        0x75, 0x08, 0x15, 0x00, 0x26, 0xFF, 0x00,                    // 8 bits, 0..255
        0x85, 0x02, 0x95, 0x10, 0x09, 0x02, 0x91, 0x02,              // report 2, usage 2
        0x85, 0x03, 0x95, 0x10, 0x09, 0x02, 0x91, 0x02,              // report 3, usage 2
        0x85, 0x01, 0x95, 0x10, 0x09, 0x01, 0x91, 0x02,              // report 1, usage 1
        0x85, 0x04, 0x95, 0x04, 0x19, 0x10, 0x29, 0x13, 0x91, 0x02,  // usages 0x10..0x13
        0x95, 0x05, 0x09, 0x20, 0x09, 0x21, 0x09, 0x22, 0x91, 0x02,  // 3 usages, 5 fields
    }));
    ExpectValues(ValueCapsOf(parsed.collections.at(0), kHidpOutput),
                 {{2, 0xFF00, 0x02, false, 0, 8, 16, 0, 255, true},
                  {3, 0xFF00, 0x02, false, 0, 8, 16, 0, 255, true},
                  {1, 0xFF00, 0x01, false, 0, 8, 16, 0, 255, true},
                  {4, 0xFF00, 0x10, true, 0x13, 8, 4, 0, 255, true},
                  {4, 0xFF00, 0x20, false, 0, 8, 1, 0, 255, true},
                  {4, 0xFF00, 0x21, false, 0, 8, 1, 0, 255, true},
                  {4, 0xFF00, 0x22, false, 0, 8, 3, 0, 255, true}});
}

TEST(ReportDescriptor, MouseAxesAreRelativeSignedValuesInTheirPhysicalCollection) {
    const ParsedDescriptor parsed = Parse(descriptors::kComposite);
    const std::vector<HidValueCaps> axes = ValueCapsOf(parsed.collections.at(0), kHidpInput);
    ExpectValues(axes, {{1, 0x0001, 0x30, false, 0, 8, 1, -127, 127, false},
                        {1, 0x0001, 0x31, false, 0, 8, 1, -127, 127, false}});
    EXPECT_EQ(axes.at(0).LinkCollection, 1);
    EXPECT_EQ(axes.at(0).LinkUsage, 0x01);
    EXPECT_TRUE(parsed.numberedReports);
}

TEST(ReportDescriptor, ExtendedUsageCarriesItsOwnPage) {
    // A four-byte usage names page 0xFF45 whatever the current usage page says.
    const ParsedDescriptor parsed =
        Parse(InCollection({0x75, 0x08, 0x95, 0x02, 0x0B, 0x01, 0xA0, 0x45, 0xFF, 0x91, 0x02}));
    ExpectValues(ValueCapsOf(parsed.collections.at(0), kHidpOutput),
                 {{0, 0xFF45, 0xA001, false, 0, 8, 2, 0, 0, true}});
    EXPECT_FALSE(parsed.numberedReports);
}

TEST(ReportDescriptor, BufferTooSmallGetsWhatFitsAndSaysSo) {
    const ParsedDescriptor parsed = Parse(InCollection(
        {0x75, 0x08, 0x95, 0x01, 0x09, 0x01, 0x09, 0x02, 0x09, 0x03, 0x95, 0x03, 0x91, 0x02}));
    const CollectionCaps& c = parsed.collections.at(0);
    HidValueCaps one[1];
    uint16_t length = 1;
    EXPECT_EQ(hidraw::FillValueCaps(c, kHidpOutput, one, &length), kHidpStatusBufferTooSmall);
    EXPECT_EQ(length, 1);
    EXPECT_EQ(one[0].NotRange.Usage, 0x01);

    length = 5;
    EXPECT_EQ(hidraw::FillValueCaps(c, kHidpOutput, nullptr, &length), kHidpStatusBufferTooSmall);
    EXPECT_EQ(length, 0);

    length = 1;
    EXPECT_EQ(hidraw::FillValueCaps(c, kHidpInput, one, &length), kHidpStatusUsageNotFound);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(hidraw::FillValueCaps(c, 7, one, &length), kHidpStatusInvalidReportType);
}

struct BadCase {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* why;
};

TEST(ReportDescriptor, RefusesBrokenDescriptorsCleanly) {
    std::vector<uint8_t> truncated(descriptors::kMonitor.begin(),
                                   descriptors::kMonitor.begin() + 34);  // inside 0x96 07 01
    std::vector<uint8_t> tooLong = descriptors::kMonitor;
    tooLong.resize(hidraw::kMaxDescriptorBytes + 1, 0x00);  // zero bytes are short items
    std::vector<uint8_t> deepPush;
    for (size_t k = 0; k <= hidraw::kMaxPushDepth; ++k) {
        deepPush.push_back(0xA4);
    }
    std::vector<uint8_t> deepCollections;
    for (size_t k = 0; k <= hidraw::kMaxCollectionDepth; ++k) {
        deepCollections.insert(deepCollections.end(), {0xA1, 0x00});
    }

    const std::vector<BadCase> cases = {
        {"empty", {}, "empty descriptor"},
        {"truncated item", truncated, "item truncated"},
        {"truncated one-byte item", {0x05}, "item truncated"},
        {"truncated four-byte item", {0x07, 0x01, 0x02}, "item truncated"},
        {"long item truncated", InCollection({0xFE, 0x10, 0x42, 0x01}), "long item truncated"},
        {"long item header truncated", {0xFE, 0x01}, "long item truncated"},
        {"pop without push", InCollection({0xB4}), "pop without push"},
        {"push nested too deep", InCollection(deepPush), "push nested too deep"},
        {"count times size too large",
         InCollection({0x76, 0x00, 0x01, 0x96, 0xFF, 0xFF, 0x81, 0x02}), "report too long"},
        {"reports adding up too long",
         InCollection({0x75, 0x80, 0x96, 0x00, 0x04, 0x81, 0x02, 0x81, 0x02}), "report too long"},
        {"report size beyond 256 bits", InCollection({0x76, 0x01, 0x01}), "report size too large"},
        {"report count absurd", InCollection({0x97, 0x00, 0x00, 0x00, 0x01}),
         "report count too large"},
        {"report id 0", InCollection({0x85, 0x00}), "report id out of range"},
        {"report id beyond a byte", InCollection({0x86, 0x00, 0x01}), "report id out of range"},
        {"collection not closed",
         {0x09, 0x01, 0xA1, 0x01, 0x09, 0x02, 0xA1, 0x00, 0xC0},
         "collection not closed"},
        {"end collection without collection", {0xC0}, "end collection without collection"},
        {"data item outside a collection",
         {0x75, 0x08, 0x95, 0x01, 0x81, 0x02},
         "data item outside a collection"},
        {"no collection at all", {0x05, 0x01, 0x09, 0x02}, "no top-level collection"},
        {"collections nested too deep", InCollection(deepCollections),
         "collections nested too deep"},
        {"reserved item type", InCollection({0x0C}), "reserved item type"},
        {"reserved main item", InCollection({0xD0}), "reserved main item"},
        {"reserved global item", InCollection({0xC4}), "reserved global item"},
        {"usage maximum without minimum", InCollection({0x29, 0x05}),
         "usage maximum without minimum"},
        {"usage range backwards", InCollection({0x19, 0x05, 0x29, 0x01}),
         "usage maximum below minimum"},
        {"descriptor too long", tooLong, "descriptor longer than 4096 bytes"},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name);
        ParsedDescriptor parsed;
        parsed.collections.resize(2);
        std::string why;
        EXPECT_FALSE(hidraw::ParseReportDescriptor(c.bytes.data(), c.bytes.size(), parsed, why));
        EXPECT_EQ(why, c.why);
        EXPECT_TRUE(parsed.collections.empty());
    }
}

TEST(ReportDescriptor, TooManyUsagesBeforeOneItemAreRefused) {
    std::vector<uint8_t> items = {0x75, 0x08, 0x95, 0x01};
    for (size_t k = 0; k <= hidraw::kMaxLocalUsages; ++k) {
        items.insert(items.end(), {0x09, 0x01});
    }
    items.insert(items.end(), {0x81, 0x02});
    const std::vector<uint8_t> bytes = InCollection(items);
    ASSERT_LE(bytes.size(), hidraw::kMaxDescriptorBytes);
    ParsedDescriptor parsed;
    std::string why;
    EXPECT_FALSE(hidraw::ParseReportDescriptor(bytes.data(), bytes.size(), parsed, why));
    EXPECT_EQ(why, "too many usages");
}

}  // namespace
