// The report-descriptor parser: what it answers for whole descriptors (collections, report
// lengths, value capabilities as Windows gives them), and that broken ones are refused.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "hid/ReportDescriptor.h"
#include "tests/support/Descriptors.h"

namespace {

using descriptors::InCollection;
using hidraw::CollectionCaps;
using hidraw::ParsedDescriptor;

// Per collection: usage page, usage; input, output, feature report byte lengths; input,
// output, feature value caps; input, output, feature button caps; link collection nodes.
using Caps = std::array<int, 12>;

struct GoodCase {
    const char* name;
    std::vector<uint8_t> bytes;
    std::vector<Caps> collections;
};

ParsedDescriptor Parse(const std::vector<uint8_t>& bytes) {
    ParsedDescriptor parsed;
    std::string why;
    EXPECT_TRUE(hidraw::ParseReportDescriptor(bytes.data(), bytes.size(), parsed, why)) << why;
    return parsed;
}

Caps CapsOf(const CollectionCaps& collection) {
    HidCaps c;
    EXPECT_EQ(hidraw::FillCaps(collection, &c), kHidpStatusSuccess);
    return {c.UsagePage,
            c.Usage,
            c.InputReportByteLength,
            c.OutputReportByteLength,
            c.FeatureReportByteLength,
            c.NumberInputValueCaps,
            c.NumberOutputValueCaps,
            c.NumberFeatureValueCaps,
            c.NumberInputButtonCaps,
            c.NumberOutputButtonCaps,
            c.NumberFeatureButtonCaps,
            c.NumberLinkCollectionNodes};
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
        std::vector<Caps> got;
        for (const CollectionCaps& collection : Parse(c.bytes).collections) {
            got.push_back(CapsOf(collection));
        }
        EXPECT_EQ(got, c.collections) << c.name;
    }
}

std::vector<HidValueCaps> RawValues(const CollectionCaps& collection, int kind) {
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

// Per value: kind, report id, usage page, usage (the minimum of a range), is a range, usage
// maximum of a range, bit size, report count, logical minimum and maximum, is absolute,
// link collection, link usage page, link usage.
using Value = std::array<int, 14>;
constexpr int kIn = kHidpInput, kOut = kHidpOutput, kFeature = kHidpFeature;

struct ValueCase {
    const char* name;
    std::vector<uint8_t> bytes;
    std::vector<Value> values;  // of the first collection: input, output, then feature
};

TEST(ReportDescriptor, ValueCapsInDescriptorOrder) {
    const std::vector<ValueCase> cases = {
        {"monitor",
         descriptors::kMonitor,
         {{kIn, 1, 0xFF45, 0xA002, 0, 0, 8, 8, 0, 255, 1, 0, 0xFF45, 0xA000},
          {kOut, 1, 0xFF45, 0xA001, 0, 0, 8, 263, 0, 255, 1, 0, 0xFF45, 0xA000},
          {kFeature, 1, 0xFF45, 0xA003, 0, 0, 8, 127, 0, 255, 1, 0, 0xFF45, 0xA000}}},
        // Output reports 2 and 3 of usage 2 come before the command value on report 1; then
        // a range of four usages, and three usages over five fields (the last takes three).
        {"descriptor order",
         InCollection({
             0x75, 0x08, 0x15, 0x00, 0x26, 0xFF, 0x00,                    // 8 bits, 0..255
             0x85, 0x02, 0x95, 0x10, 0x09, 0x02, 0x91, 0x02,              // report 2, usage 2
             0x85, 0x03, 0x95, 0x10, 0x09, 0x02, 0x91, 0x02,              // report 3, usage 2
             0x85, 0x01, 0x95, 0x10, 0x09, 0x01, 0x91, 0x02,              // report 1, usage 1
             0x85, 0x04, 0x95, 0x04, 0x19, 0x10, 0x29, 0x13, 0x91, 0x02,  // usages 0x10..0x13
             0x95, 0x05, 0x09, 0x20, 0x09, 0x21, 0x09, 0x22, 0x91, 0x02,  // 3 usages, 5 fields
         }),
         {{kOut, 2, 0xFF00, 0x02, 0, 0, 8, 16, 0, 255, 1, 0, 0xFF00, 1},
          {kOut, 3, 0xFF00, 0x02, 0, 0, 8, 16, 0, 255, 1, 0, 0xFF00, 1},
          {kOut, 1, 0xFF00, 0x01, 0, 0, 8, 16, 0, 255, 1, 0, 0xFF00, 1},
          {kOut, 4, 0xFF00, 0x10, 1, 0x13, 8, 4, 0, 255, 1, 0, 0xFF00, 1},
          {kOut, 4, 0xFF00, 0x20, 0, 0, 8, 1, 0, 255, 1, 0, 0xFF00, 1},
          {kOut, 4, 0xFF00, 0x21, 0, 0, 8, 1, 0, 255, 1, 0, 0xFF00, 1},
          {kOut, 4, 0xFF00, 0x22, 0, 0, 8, 3, 0, 255, 1, 0, 0xFF00, 1}}},
        // A four-byte usage names page 0xFF45 whatever the current usage page says.
        {"extended usage",
         InCollection({0x75, 0x08, 0x95, 0x02, 0x0B, 0x01, 0xA0, 0x45, 0xFF, 0x91, 0x02}),
         {{kOut, 0, 0xFF45, 0xA001, 0, 0, 8, 2, 0, 0, 1, 0, 0xFF00, 1}}},
    };
    for (const ValueCase& c : cases) {
        const ParsedDescriptor parsed = Parse(c.bytes);
        std::vector<Value> got;
        for (const int kind : {kIn, kOut, kFeature}) {
            for (const HidValueCaps& v : RawValues(parsed.collections.at(0), kind)) {
                got.push_back({kind, v.ReportID, v.UsagePage,
                               v.IsRange ? v.Range.UsageMin : v.NotRange.Usage, v.IsRange,
                               v.IsRange ? v.Range.UsageMax : 0, v.BitSize, v.ReportCount,
                               v.LogicalMin, v.LogicalMax, v.IsAbsolute, v.LinkCollection,
                               v.LinkUsagePage, v.LinkUsage});
            }
        }
        EXPECT_EQ(got, c.values) << c.name;
    }
    const ParsedDescriptor monitor = Parse(descriptors::kMonitor);
    EXPECT_EQ(RawValues(monitor.collections.at(0), kOut).at(0).PhysicalMax, 255);
    EXPECT_TRUE(monitor.numberedReports);
    EXPECT_TRUE(Parse(descriptors::kComposite).numberedReports);
    EXPECT_FALSE(Parse(cases.back().bytes).numberedReports);
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
        {"long item truncated", InCollection({0xFE, 0x10, 0x42, 0x01}), "long item truncated"},
        {"pop without push", InCollection({0xB4}), "pop without push"},
        {"push nested too deep", InCollection(deepPush), "push nested too deep"},
        {"count times size too large",
         InCollection({0x76, 0x00, 0x01, 0x96, 0xFF, 0xFF, 0x81, 0x02}), "report too long"},
        {"reports adding up too long",
         InCollection({0x75, 0x80, 0x96, 0x00, 0x04, 0x81, 0x02, 0x81, 0x02}), "report too long"},
        {"report id 0", InCollection({0x85, 0x00}), "report id out of range"},
        {"collection not closed",
         {0x09, 0x01, 0xA1, 0x01, 0x09, 0x02, 0xA1, 0x00, 0xC0},
         "collection not closed"},
        {"data item outside a collection",
         {0x75, 0x08, 0x95, 0x01, 0x81, 0x02},
         "data item outside a collection"},
        {"no collection at all", {0x05, 0x01, 0x09, 0x02}, "no top-level collection"},
        {"collections nested too deep", InCollection(deepCollections),
         "collections nested too deep"},
        {"reserved item type", InCollection({0x0C}), "reserved item type"},
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

}  // namespace
