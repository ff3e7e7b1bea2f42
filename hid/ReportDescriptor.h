// A HID 1.11 report descriptor, parsed into what the Windows HID parser answers per top-level
// collection: usage page and usage, the longest report of each kind (counting the report id
// byte always), and the value capabilities in descriptor order. Portable: no system headers,
// so tests and the fuzz target compile it directly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hid/HidTypes.h"

namespace hidraw {

// The kernel hands out at most this much descriptor (HID_MAX_DESCRIPTOR_SIZE).
inline constexpr size_t kMaxDescriptorBytes = 4096;
// Nested Push items.
inline constexpr size_t kMaxPushDepth = 16;
// Nested collections.
inline constexpr size_t kMaxCollectionDepth = 32;
// Report Size in bits, as the kernel accepts it.
inline constexpr uint32_t kMaxReportSizeBits = 256;
// One report's data, in bytes without the id byte (the kernel's HID_MAX_BUFFER_SIZE less one).
inline constexpr uint32_t kMaxReportDataBytes = 16383;
// Usage and usage range items before one main item.
inline constexpr size_t kMaxLocalUsages = 1024;

struct ValueCap {
    uint8_t reportId = 0;
    uint16_t usagePage = 0;
    bool isRange = false;
    uint16_t usage = 0;  // usage minimum when isRange
    uint16_t usageMax = 0;
    uint16_t bitField = 0;  // the main item's data bits
    uint16_t linkCollection = 0;
    uint16_t linkUsagePage = 0;
    uint16_t linkUsage = 0;
    uint16_t bitSize = 0;
    uint16_t reportCount = 0;
    uint32_t unitExponent = 0;
    uint32_t unit = 0;
    int32_t logicalMin = 0;
    int32_t logicalMax = 0;
    int32_t physicalMin = 0;
    int32_t physicalMax = 0;
    uint16_t dataIndex = 0;  // the first
};

// Indexed by kHidpInput, kHidpOutput, kHidpFeature.
inline constexpr size_t kReportKinds = 3;

struct CollectionCaps {
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    std::array<uint16_t, kReportKinds> reportBytes{};          // with the id byte; 0 when none
    std::array<std::vector<uint8_t>, kReportKinds> reportIds;  // ascending; 0 when unnumbered
    std::array<std::vector<ValueCap>, kReportKinds> valueCaps;
    std::array<uint16_t, kReportKinds> buttonCaps{};
    std::array<uint16_t, kReportKinds> dataIndices{};
    uint16_t linkCollectionNodes = 1;
};

struct ParsedDescriptor {
    std::vector<CollectionCaps> collections;  // the top-level ones, in descriptor order
    bool numberedReports = false;             // a Report ID item: reports start with their id
};

// Parses a whole descriptor. Global items keep their values from one top-level collection
// into the next, as HID 1.11 and the kernel have it. False, with `why` saying what was
// wrong, for anything truncated, unbalanced or beyond the limits above; `out` is then empty.
bool ParseReportDescriptor(const uint8_t* data, size_t size, ParsedDescriptor& out,
                           std::string& why);

// HidP_GetCaps and HidP_GetValueCaps for one collection, with the Windows meanings. Value caps
// into a buffer too small for all of them: the ones that fit are copied, `length` says how
// many were, and the answer is kHidpStatusBufferTooSmall.
HidStatus FillCaps(const CollectionCaps& collection, HidCaps* caps);
HidStatus FillValueCaps(const CollectionCaps& collection, int reportType, HidValueCaps* valueCaps,
                        uint16_t* length);

}  // namespace hidraw
