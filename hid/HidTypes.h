// The HID class library's types, laid out as hid.dll publishes them, so that the same
// core code drives hid.dll on Windows, the hidraw table on Linux and the simulated bus.
#pragma once

#include <cstdint>

#include "platform/ErrorCodes.h"

#if defined(_WIN32) && !defined(_WIN64)
#define HID_API __stdcall
#else
#define HID_API
#endif

using HidHandle = void*;
using HidPreparsedData = void*;
using HidBoolean = uint8_t;  // BOOLEAN
using HidStatus = int32_t;   // NTSTATUS

inline HidHandle InvalidHidHandle() {
    return reinterpret_cast<HidHandle>(static_cast<intptr_t>(-1));
}

inline constexpr HidStatus kHidpStatusSuccess = 0x00110000;
inline constexpr HidStatus kHidpStatusInvalidPreparsedData = static_cast<HidStatus>(0xC0110001u);
inline constexpr HidStatus kHidpStatusInvalidReportType = static_cast<HidStatus>(0xC0110002u);
inline constexpr HidStatus kHidpStatusUsageNotFound = static_cast<HidStatus>(0xC0110004u);
inline constexpr HidStatus kHidpStatusBufferTooSmall = static_cast<HidStatus>(0xC0110007u);
inline constexpr int kHidpInput = 0;
inline constexpr int kHidpOutput = 1;
inline constexpr int kHidpFeature = 2;

inline constexpr uint32_t kWaitTimeout = 258;

struct HidGuid {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

struct HidAttributes {  // HIDD_ATTRIBUTES
    uint32_t Size;
    uint16_t VendorID;
    uint16_t ProductID;
    uint16_t VersionNumber;
};

struct HidCaps {  // HIDP_CAPS
    uint16_t Usage;
    uint16_t UsagePage;
    uint16_t InputReportByteLength;
    uint16_t OutputReportByteLength;
    uint16_t FeatureReportByteLength;
    uint16_t Reserved[17];
    uint16_t NumberLinkCollectionNodes;
    uint16_t NumberInputButtonCaps;
    uint16_t NumberInputValueCaps;
    uint16_t NumberInputDataIndices;
    uint16_t NumberOutputButtonCaps;
    uint16_t NumberOutputValueCaps;
    uint16_t NumberOutputDataIndices;
    uint16_t NumberFeatureButtonCaps;
    uint16_t NumberFeatureValueCaps;
    uint16_t NumberFeatureDataIndices;
};
static_assert(sizeof(HidCaps) == 64);

struct HidValueCapsRange {
    uint16_t UsageMin, UsageMax;
    uint16_t StringMin, StringMax;
    uint16_t DesignatorMin, DesignatorMax;
    uint16_t DataIndexMin, DataIndexMax;
};

struct HidValueCapsNotRange {
    uint16_t Usage, Reserved1;
    uint16_t StringIndex, Reserved2;
    uint16_t DesignatorIndex, Reserved3;
    uint16_t DataIndex, Reserved4;
};

struct HidValueCaps {  // HIDP_VALUE_CAPS
    uint16_t UsagePage;
    uint8_t ReportID;
    HidBoolean IsAlias;
    uint16_t BitField;
    uint16_t LinkCollection;
    uint16_t LinkUsage;
    uint16_t LinkUsagePage;
    HidBoolean IsRange;
    HidBoolean IsStringRange;
    HidBoolean IsDesignatorRange;
    HidBoolean IsAbsolute;
    HidBoolean HasNull;
    uint8_t Reserved;
    uint16_t BitSize;
    uint16_t ReportCount;
    uint16_t Reserved2[5];
    uint32_t UnitsExp;
    uint32_t Units;
    int32_t LogicalMin;
    int32_t LogicalMax;
    int32_t PhysicalMin;
    int32_t PhysicalMax;
    union {
        HidValueCapsRange Range;
        HidValueCapsNotRange NotRange;
    };
};
static_assert(sizeof(HidValueCaps) == 72);
