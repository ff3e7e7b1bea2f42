// The HID library of the simulated machine: the same table of eleven functions, answering
// from the simulated bus. A HidHandle is a pointer to a SimInterface of the bus.
#include <algorithm>
#include <cstring>

#include "hid/HidLib.h"
#include "sim/SimBus.h"

namespace {

sim::SimBus& Bus() {
    return sim::SimBus::instance();
}

HidBoolean Fail(uint32_t error) {
    Bus().lastError = error;
    return 0;
}

// -1 (with the last error set) unless the handle is one of the bus's interfaces.
int Resolve(HidHandle handle) {
    const int index = Bus().interfaceIndexOf(handle);
    if (index < 0) {
        Bus().lastError = kErrorInvalidHandle;
    }
    return index;
}

int ResolvePreparsed(HidPreparsedData data) {
    for (const auto& block : Bus().preparsed) {
        if (block.get() == data) {
            return block->interfaceIndex;
        }
    }
    return -1;
}

const sim::SimMonitor* MonitorOf(int interfaceIndex) {
    const int m = Bus().interfaces[static_cast<size_t>(interfaceIndex)].monitor;
    return m < 0 ? nullptr : &Bus().monitors[static_cast<size_t>(m)];
}

void HID_API SimGetHidGuid(HidGuid* guid) {
    // GUID_DEVINTERFACE_HID
    *guid = HidGuid{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
}

HidBoolean HID_API SimGetPreparsedData(HidHandle device, HidPreparsedData* preparsed) {
    const int index = Resolve(device);
    if (index < 0 || preparsed == nullptr) {
        return 0;
    }
    if (Bus().interfaces[static_cast<size_t>(index)].preparsedDataFails) {
        return Fail(kErrorGenFailure);
    }
    auto block = std::make_unique<sim::SimPreparsed>();
    block->interfaceIndex = index;
    *preparsed = block.get();
    Bus().preparsed.push_back(std::move(block));
    return 1;
}

HidBoolean HID_API SimFreePreparsedData(HidPreparsedData preparsed) {
    auto& blocks = Bus().preparsed;
    for (auto it = blocks.begin(); it != blocks.end(); ++it) {
        if (it->get() == preparsed) {
            blocks.erase(it);
            return 1;
        }
    }
    return Fail(kErrorInvalidParameter);
}

HidBoolean HID_API SimGetAttributes(HidHandle device, HidAttributes* attributes) {
    const int index = Resolve(device);
    if (index < 0 || attributes == nullptr) {
        return 0;
    }
    const sim::SimInterface& i = Bus().interfaces[static_cast<size_t>(index)];
    if (i.attributesFail) {
        return Fail(kErrorGenFailure);
    }
    const sim::SimMonitor* m = MonitorOf(index);
    attributes->Size = sizeof(HidAttributes);
    attributes->VendorID = m != nullptr ? m->vid : i.vid;
    attributes->ProductID = m != nullptr ? m->pid : i.pid;
    attributes->VersionNumber = m != nullptr ? m->version : 0x0100;
    return 1;
}

HidBoolean HID_API SimFlushQueue(HidHandle device) {
    const int index = Resolve(device);
    if (index < 0) {
        return 0;
    }
    const uint32_t error = Bus().flushQueue(index);
    return error == 0 ? HidBoolean{1} : Fail(error);
}

HidBoolean HID_API SimSetNumInputBuffers(HidHandle device, uint32_t count) {
    if (Resolve(device) < 0) {
        return 0;
    }
    // The HID class driver's limits.
    return count >= 2 && count <= 512 ? HidBoolean{1} : Fail(kErrorInvalidParameter);
}

HidBoolean HID_API SimGetSerialNumberString(HidHandle device, void* buffer, uint32_t length) {
    const int index = Resolve(device);
    if (index < 0) {
        return 0;
    }
    const sim::SimMonitor* m = MonitorOf(index);
    if (m == nullptr) {
        return Fail(kErrorInvalidParameter);  // no serial number string
    }
    if (m->disconnected) {
        return Fail(kErrorDeviceNotConnected);
    }
    // UTF-16 code units, little-endian, and a terminating zero, as USB string descriptors
    // carry them; wchar_t is 32 bits on POSIX.
    std::vector<uint16_t> units;
    for (wchar_t c : m->serial) {
        const uint32_t code = static_cast<uint32_t>(c);
        if (code >= 0x10000 && code <= 0x10FFFF) {
            units.push_back(static_cast<uint16_t>(0xD800 + ((code - 0x10000) >> 10)));
            units.push_back(static_cast<uint16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<uint16_t>(code));
        }
    }
    units.push_back(0);
    if (buffer == nullptr || units.size() * 2 > length) {
        return Fail(kErrorInvalidParameter);
    }
    auto* bytes = static_cast<uint8_t*>(buffer);
    for (size_t k = 0; k < units.size(); ++k) {
        bytes[2 * k] = static_cast<uint8_t>(units[k] & 0xFF);
        bytes[2 * k + 1] = static_cast<uint8_t>(units[k] >> 8);
    }
    return 1;
}

HidBoolean HID_API SimGetFeature(HidHandle device, void* buffer, uint32_t length) {
    const int index = Resolve(device);
    if (index < 0) {
        return 0;
    }
    const uint32_t error = Bus().getFeature(index, static_cast<uint8_t*>(buffer), length);
    return error == 0 ? HidBoolean{1} : Fail(error);
}

HidBoolean HID_API SimSetOutputReport(HidHandle device, void*, uint32_t) {
    if (Resolve(device) < 0) {
        return 0;
    }
    return Fail(kErrorInvalidParameter);  // the controller takes output reports by write only
}

HidStatus HID_API SimGetCaps(HidPreparsedData preparsed, HidCaps* caps) {
    const int index = ResolvePreparsed(preparsed);
    if (index < 0 || caps == nullptr) {
        return kHidpStatusInvalidPreparsedData;
    }
    const sim::SimInterface& i = Bus().interfaces[static_cast<size_t>(index)];
    if (i.capsFail) {
        return kHidpStatusInvalidPreparsedData;
    }
    std::memset(caps, 0, sizeof(HidCaps));
    const sim::SimMonitor* m = MonitorOf(index);
    caps->NumberLinkCollectionNodes = 1;
    if (m == nullptr) {
        caps->UsagePage = i.usagePage;
        caps->Usage = i.usage;
        caps->InputReportByteLength = 9;
        caps->NumberInputButtonCaps = 1;
        caps->NumberInputDataIndices = 8;
        return kHidpStatusSuccess;
    }
    caps->UsagePage = m->usagePage;
    caps->Usage = m->usage;
    caps->InputReportByteLength = 9;
    caps->OutputReportByteLength = m->outputReportLength;
    caps->FeatureReportByteLength = m->featureReportLength;
    caps->NumberInputValueCaps = 1;
    caps->NumberInputDataIndices = 1;
    caps->NumberOutputValueCaps = static_cast<uint16_t>(1 + m->otherOutputValues);
    caps->NumberOutputDataIndices = static_cast<uint16_t>(1 + m->otherOutputValues);
    caps->NumberFeatureValueCaps = 1;
    caps->NumberFeatureDataIndices = 1;
    return kHidpStatusSuccess;
}

// One vendor value per report type: input usage | 2, output usage | 1 (the command
// usage; usage | 2 when the monitor is set not to match), feature usage | 3.
HidStatus HID_API SimGetValueCaps(int reportType, HidValueCaps* valueCaps, uint16_t* length,
                                  HidPreparsedData preparsed) {
    const int index = ResolvePreparsed(preparsed);
    if (index < 0 || length == nullptr) {
        return kHidpStatusInvalidPreparsedData;
    }
    if (reportType != kHidpInput && reportType != kHidpOutput && reportType != kHidpFeature) {
        return kHidpStatusInvalidReportType;
    }
    const sim::SimMonitor* m = MonitorOf(index);
    if (m == nullptr) {
        *length = 0;
        return kHidpStatusUsageNotFound;
    }
    // A buffer too small for every record gets the ones that fit, the count of those, and
    // "buffer too small", as the Linux backend answers.
    if (*length < 1 || valueCaps == nullptr) {
        *length = 0;
        return kHidpStatusBufferTooSmall;
    }
    HidValueCaps v;
    std::memset(&v, 0, sizeof v);
    v.UsagePage = m->usagePage;
    v.ReportID = m->reportId;
    v.LinkUsage = m->usage;
    v.LinkUsagePage = m->usagePage;
    v.IsAbsolute = 1;
    v.BitSize = 8;
    v.LogicalMax = 255;
    v.PhysicalMax = 255;
    uint16_t usage = static_cast<uint16_t>(m->usage | 3);
    uint16_t count =
        static_cast<uint16_t>(m->featureReportLength > 0 ? m->featureReportLength - 1 : 0);
    if (reportType == kHidpInput) {
        usage = static_cast<uint16_t>(m->usage | 2);
        count = 8;
    } else if (reportType == kHidpOutput) {
        usage = static_cast<uint16_t>(m->usage | (m->outputValueCapsMatch ? 1 : 2));
        count = static_cast<uint16_t>(m->outputReportLength > 0 ? m->outputReportLength - 1 : 0);
    }
    if (reportType == kHidpFeature) {
        v.ReportID = sim::FeatureReportId(*m);
    }
    v.ReportCount = count;
    v.NotRange.Usage = usage;
    if (reportType != kHidpOutput || m->otherOutputValues == 0) {
        valueCaps[0] = v;
        *length = 1;
        return kHidpStatusSuccess;
    }
    // Output values of another usage and report come first; the command value last. As
    // many records as the caller has room for are returned.
    const size_t total = 1u + m->otherOutputValues;
    const size_t filled = std::min<size_t>(*length, total);
    for (size_t k = 0; k < filled; ++k) {
        valueCaps[k] = v;
        if (k + 1 < total) {
            valueCaps[k].ReportID = static_cast<uint8_t>(m->reportId + 1 + k);
            valueCaps[k].NotRange.Usage = static_cast<uint16_t>(m->usage | 2);
        }
    }
    *length = static_cast<uint16_t>(filled);
    return filled < total ? kHidpStatusBufferTooSmall : kHidpStatusSuccess;
}

}  // namespace

namespace sim {

void UnbindHidLibrary() {
    HidLib::forget();
}

}  // namespace sim

bool HidBindFunctions(HidFunctions& table) {
    if (!Bus().hidLibraryAvailable) {
        return false;
    }
    table.HidD_GetHidGuid = SimGetHidGuid;
    table.HidD_GetPreparsedData = SimGetPreparsedData;
    table.HidD_FreePreparsedData = SimFreePreparsedData;
    table.HidD_GetAttributes = SimGetAttributes;
    table.HidD_FlushQueue = SimFlushQueue;
    table.HidD_SetNumInputBuffers = SimSetNumInputBuffers;
    table.HidD_GetSerialNumberString = SimGetSerialNumberString;
    table.HidD_GetFeature = SimGetFeature;
    table.HidD_SetOutputReport = SimSetOutputReport;
    table.HidP_GetCaps = SimGetCaps;
    table.HidP_GetValueCaps = SimGetValueCaps;
    return true;
}
