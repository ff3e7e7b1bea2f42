// The report-descriptor parser: what it answers for whole descriptors (collections, report
// lengths, value capabilities as Windows gives them), and that broken ones are refused. The
// fuzz target feeds it everything else.
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

ParsedDescriptor Parse(const std::vector<uint8_t>& bytes) {
    ParsedDescriptor parsed;
    std::string why;
    EXPECT_TRUE(hidraw::ParseReportDescriptor(bytes.data(), bytes.size(), parsed, why)) << why;
    return parsed;
}

// Per collection: usage page, usage; input, output, feature report byte lengths; input,
// output, feature value caps; input, output button caps; link collection nodes.
using Caps = std::array<int, 11>;

TEST(ReportDescriptor, CollectionsLengthsAndCapabilityCounts) {
    const std::pair<std::vector<uint8_t>, std::vector<Caps>> cases[] = {
        // clang-format off
        {descriptors::kMonitor, {{0xFF45, 0xA000, 9, 264, 128, 1, 1, 1, 0, 0, 1}}},
        // The second collection relies on globals carried over from the first.
        {descriptors::MonitorWithSecondCollection(),
         {{0xFF45, 0xA000, 9, 264, 128, 1, 1, 1, 0, 0, 1}, {0xFF45, 0xA100, 9, 0, 0, 1, 0, 0, 0, 0, 1}}},
        // Buttons and arrays are button caps; the constant byte and LED padding add length.
        {descriptors::kKeyboard, {{0x0001, 0x0006, 9, 2, 0, 0, 0, 0, 2, 1, 1}}},
        // A physical collection inside is a link collection node, not a collection of its own.
        {InCollection({0xA1, 0x00, 0x75, 0x08, 0x95, 0x01, 0x09, 0x02, 0x81, 0x02, 0xC0}),
         {{0xFF00, 0x0001, 2, 0, 0, 1, 0, 0, 0, 0, 2}}},
        // Without report ids the id byte still counts; bits round up to whole bytes.
        {InCollection({0x75, 0x03, 0x95, 0x03, 0x09, 0x02, 0x81, 0x02}),
         {{0xFF00, 0x0001, 3, 0, 0, 1, 0, 0, 0, 0, 1}}},
        // The longest of several reports of one kind.
        {InCollection({0x75, 0x08, 0x85, 0x01, 0x95, 0x04, 0x09, 0x02, 0x91, 0x02, 0x85, 0x02, 0x95, 0x20,
                       0x09, 0x03, 0x91, 0x02}),
         {{0xFF00, 0x0001, 0, 33, 0, 0, 2, 0, 0, 0, 1}}},
        // Push keeps the globals, pop brings them back (report size 8 again after 16).
        {InCollection({0x75, 0x08, 0x95, 0x02, 0xA4, 0x75, 0x10, 0x09, 0x02, 0x81, 0x02, 0xB4, 0x09, 0x03,
                       0x81, 0x02}),
         {{0xFF00, 0x0001, 7, 0, 0, 2, 0, 0, 0, 0, 1}}},
        // clang-format on
    };
    for (const auto& [bytes, expected] : cases) {
        std::vector<Caps> got;
        for (const CollectionCaps& collection : Parse(bytes).collections) {
            HidCaps c;
            EXPECT_EQ(hidraw::FillCaps(collection, &c), kHidpStatusSuccess);
            got.push_back({c.UsagePage, c.Usage, c.InputReportByteLength, c.OutputReportByteLength,
                           c.FeatureReportByteLength, c.NumberInputValueCaps,
                           c.NumberOutputValueCaps, c.NumberFeatureValueCaps,
                           c.NumberInputButtonCaps, c.NumberOutputButtonCaps,
                           c.NumberLinkCollectionNodes});
        }
        EXPECT_EQ(got, expected) << got.size();
    }
}

// Output values in descriptor order: reports 2 and 3 before the command value on report 1,
// a range of four usages, then three usages over five fields (the last takes three), and a
// four-byte usage naming its own page. A buffer too small gets what fits and says so.
TEST(ReportDescriptor, ValueCapsInDescriptorOrder) {
    const ParsedDescriptor parsed = Parse(InCollection({
        0x75, 0x08, 0x15, 0x00, 0x26, 0xFF, 0x00,                    // 8 bits, 0..255
        0x85, 0x02, 0x95, 0x10, 0x09, 0x02, 0x91, 0x02,              // report 2, usage 2
        0x85, 0x03, 0x95, 0x10, 0x09, 0x02, 0x91, 0x02,              // report 3, usage 2
        0x85, 0x01, 0x95, 0x10, 0x09, 0x01, 0x91, 0x02,              // report 1, usage 1
        0x85, 0x04, 0x95, 0x04, 0x19, 0x10, 0x29, 0x13, 0x91, 0x02,  // usages 0x10..0x13
        0x95, 0x05, 0x09, 0x20, 0x09, 0x21, 0x09, 0x22, 0x91, 0x02,  // 3 usages, 5 fields
        0x95, 0x02, 0x0B, 0x01, 0xA0, 0x45, 0xFF, 0x91, 0x02,        // 0xFF45:0xA001
    }));
    // Report id, usage page, usage (the minimum of a range), usage maximum of a range, report
    // count, logical maximum, link usage page.
    const std::vector<std::array<int, 7>> expected = {
        {2, 0xFF00, 0x02, 0, 16, 255, 0xFF00}, {3, 0xFF00, 0x02, 0, 16, 255, 0xFF00},
        {1, 0xFF00, 0x01, 0, 16, 255, 0xFF00}, {4, 0xFF00, 0x10, 0x13, 4, 255, 0xFF00},
        {4, 0xFF00, 0x20, 0, 1, 255, 0xFF00},  {4, 0xFF00, 0x21, 0, 1, 255, 0xFF00},
        {4, 0xFF00, 0x22, 0, 3, 255, 0xFF00},  {4, 0xFF45, 0xA001, 0, 2, 255, 0xFF00},
    };
    const CollectionCaps& c = parsed.collections.at(0);
    std::vector<HidValueCaps> values(9);
    uint16_t length = 9;
    ASSERT_EQ(hidraw::FillValueCaps(c, kHidpOutput, values.data(), &length), kHidpStatusSuccess);
    ASSERT_EQ(length, 8);
    std::vector<std::array<int, 7>> got;
    for (size_t k = 0; k < length; ++k) {
        const HidValueCaps& v = values[k];
        got.push_back({v.ReportID, v.UsagePage, v.IsRange ? v.Range.UsageMin : v.NotRange.Usage,
                       v.IsRange ? v.Range.UsageMax : 0, v.ReportCount, v.LogicalMax,
                       v.LinkUsagePage});
    }
    EXPECT_EQ(got, expected);
    EXPECT_TRUE(parsed.numberedReports);

    length = 1;
    EXPECT_EQ(hidraw::FillValueCaps(c, kHidpOutput, values.data(), &length),
              kHidpStatusBufferTooSmall);
    EXPECT_EQ(length, 1);
    EXPECT_EQ(hidraw::FillValueCaps(c, kHidpInput, values.data(), &length),
              kHidpStatusUsageNotFound);
    EXPECT_EQ(hidraw::FillValueCaps(c, 7, values.data(), &length), kHidpStatusInvalidReportType);
}

TEST(ReportDescriptor, RefusesBrokenDescriptorsCleanly) {
    std::vector<uint8_t> truncated(descriptors::kMonitor.begin(),
                                   descriptors::kMonitor.begin() + 31);  // inside 0x96 07 01
    std::vector<uint8_t> tooLong = descriptors::kMonitor;
    tooLong.resize(hidraw::kMaxDescriptorBytes + 1, 0x00);  // zero bytes are short items
    const std::vector<uint8_t> deepPush(hidraw::kMaxPushDepth + 1, 0xA4);
    std::vector<uint8_t> deepCollections;
    for (size_t k = 0; k <= hidraw::kMaxCollectionDepth; ++k) {
        deepCollections.insert(deepCollections.end(), {0xA1, 0x00});
    }
    const std::pair<std::vector<uint8_t>, const char*> cases[] = {
        // clang-format off
        {{}, "empty descriptor"},
        {truncated, "item truncated"},
        {InCollection({0xFE, 0x10, 0x42, 0x01}), "long item truncated"},
        {InCollection({0xB4}), "pop without push"},
        {InCollection(deepPush), "push nested too deep"},
        {InCollection({0x76, 0x00, 0x01, 0x96, 0xFF, 0xFF, 0x81, 0x02}), "report too long"},
        {InCollection({0x75, 0x80, 0x96, 0x00, 0x04, 0x81, 0x02, 0x81, 0x02}), "report too long"},
        {InCollection({0x85, 0x00}), "report id out of range"},
        {{0x09, 0x01, 0xA1, 0x01, 0x09, 0x02, 0xA1, 0x00, 0xC0}, "collection not closed"},
        {{0x75, 0x08, 0x95, 0x01, 0x81, 0x02}, "data item outside a collection"},
        {{0x05, 0x01, 0x09, 0x02}, "no top-level collection"},
        {InCollection(deepCollections), "collections nested too deep"},
        {tooLong, "descriptor longer than 4096 bytes"},
        // clang-format on
    };
    for (const auto& [bytes, why] : cases) {
        ParsedDescriptor parsed;
        parsed.collections.resize(2);
        std::string got;
        EXPECT_FALSE(hidraw::ParseReportDescriptor(bytes.data(), bytes.size(), parsed, got));
        EXPECT_EQ(got, why);
        EXPECT_TRUE(parsed.collections.empty()) << why;
    }
}

}  // namespace
