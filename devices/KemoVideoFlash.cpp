// The video controller's report protocol: identity, firmware levels, queries and resets.
#include "devices/KemoVideoFlash.h"

#include <algorithm>
#include <cstring>

#include "hid/HidLib.h"
#include "log/Log.h"
#include "platform/Console.h"
#include "platform/Text.h"

namespace {

// The vendor page of the controller's command collection; the output value carrying the
// commands uses the collection's usage with bit 0 set.
constexpr uint16_t kCommandUsagePage = 0xFF45;

// HidD_GetSerialNumberString gets 256 bytes: at most 127 UTF-16 units and a terminator.
constexpr uint32_t kSerialBufferBytes = 256;

// The firmware answer carries four (number, gen, rev, flags) records at bytes 7..22.
constexpr uint32_t kComponentTableOffset = 7;
constexpr uint32_t kComponentTableBytes = 16;
constexpr uint32_t kFirmwareAnswerMinSize = kComponentTableOffset + kComponentTableBytes;  // 23

// Query: byte 3 0x20, byte 5 0xFF, the selector in bytes 6..8; the length field counts
// the bytes from byte 3 on.
constexpr uint8_t kQueryLength = 6;
constexpr uint8_t kQueryCommand = 0x20;
constexpr uint8_t kQueryMarker = 0xFF;
constexpr uint8_t kResetLength = 4;

constexpr const wchar_t* kComponentNames[4] = {L"MCU", L"HW_CFG", L"SCALAR", L"CAPSENSE"};

uint16_t ComponentLevelOf(const ComponentRecord& record) {
    return static_cast<uint16_t>(record.rev * 256 + record.gen);
}

}  // namespace

KemoVideoFlash::KemoVideoFlash() {
    LogWriteText(LogDebug, "KemoVideoFlash Constructed");
}

KemoVideoFlash::~KemoVideoFlash() {
    LogWriteText(LogDebug, "KemoVideoFlash Destroyed");
    // Closes whatever an initialise that failed part-way left open; harmless when the
    // object never had a channel (the -g object).
    channel.terminate();
}

bool KemoVideoFlash::initialise(HidHandle handle, HidPreparsedData preparsed, std::wstring path) {
    const HidFunctions& hid = HidLib::functions();

    // A failed serial read leaves the serial empty; the device is still usable.
    char16_t serialUnits[kSerialBufferBytes / sizeof(char16_t)] = {};
    hid.HidD_GetSerialNumberString(handle, serialUnits, kSerialBufferBytes);
    serialUnits[std::size(serialUnits) - 1] = 0;
    size_t serialLength = 0;
    while (serialUnits[serialLength] != 0) {
        ++serialLength;
    }
    serial = FromUtf16(serialUnits, serialLength);

    attributes.Size = sizeof(attributes);
    hid.HidD_GetAttributes(handle, &attributes);
    hid.HidP_GetCaps(preparsed, &caps);

    // The first input and feature value capability is held; every output one, since the
    // command report id may be declared by any of them, and a one-record buffer may come
    // back empty from a device that declares several.
    if (caps.NumberInputValueCaps != 0) {
        uint16_t count = 1;
        hid.HidP_GetValueCaps(kHidpInput, &inputValueCaps, &count, preparsed);
    }
    if (caps.NumberOutputValueCaps != 0) {
        uint16_t count = caps.NumberOutputValueCaps;
        outputValueCaps.assign(count, HidValueCaps{});
        hid.HidP_GetValueCaps(kHidpOutput, outputValueCaps.data(), &count, preparsed);
        outputValueCaps.resize(std::min<size_t>(count, outputValueCaps.size()));
    }
    if (caps.NumberFeatureValueCaps != 0) {
        uint16_t count = 1;
        hid.HidP_GetValueCaps(kHidpFeature, &featureValueCaps, &count, preparsed);
    }

    if (!channel.open(path)) {
        return false;
    }

    std::optional<FeatureReport> answer = flash(kSelectorFirmwareLevels);
    if (!answer) {
        return false;
    }
    if (answer->length >= kFirmwareAnswerMinSize) {
        const uint8_t* table = answer->bytes.get() + kComponentTableOffset;
        for (size_t i = 0; i < components.size(); ++i) {
            components[i] =
                ComponentRecord{table[4 * i], table[4 * i + 1], table[4 * i + 2], table[4 * i + 3]};
        }
    }
    answer.reset();

    LogMessage(LogInfo, "%04x:%04x %04x %s", attributes.VendorID, attributes.ProductID,
               attributes.VersionNumber, Narrow(serial).c_str());
    for (const ComponentRecord& component : components) {
        // A header line, then each field on its own tab-indented line.
        LogMessage(LogInfo, "Component[%02x]:", component.number);
        LogMessage(LogInfo, "\tgen=%02x", component.gen);
        LogMessage(LogInfo, "\trev=%02x", component.rev);
        LogMessage(LogInfo, "\tflags=%02x", component.flags);
        LogMessage(LogInfo, "\tlevel=%04x", ComponentLevelOf(component));
    }
    LogWriteText(LogDebug, "KemoVideoFlash::initialise - Ok");
    return true;
}

bool KemoVideoFlash::getFirmwareLevels(DeviceLevels& record) {
    record.vid = attributes.VendorID;
    record.pid = attributes.ProductID;
    record.serial = serial;
    for (size_t i = 0; i < components.size(); ++i) {
        record.components.push_back(
            ComponentLevel{kComponentNames[i], ComponentLevelOf(components[i])});
    }
    return true;
}

std::optional<uint8_t> KemoVideoFlash::commandReportId() const {
    const uint16_t commandUsage = static_cast<uint16_t>(caps.Usage | 1u);
    for (const HidValueCaps& valueCaps : outputValueCaps) {
        if (valueCaps.UsagePage == kCommandUsagePage && valueCaps.NotRange.Usage == commandUsage) {
            return valueCaps.ReportID;
        }
    }
    return std::nullopt;
}

std::optional<FeatureReport> KemoVideoFlash::flash(const std::array<uint8_t, 3>& selector) {
    const std::optional<uint8_t> reportId = commandReportId();
    if (!reportId) {
        return std::nullopt;
    }
    if (caps.OutputReportByteLength != kOutputReportLength) {
        return std::nullopt;
    }

    std::array<uint8_t, kOutputReportLength> report{};
    report[0] = *reportId;
    report[1] = kQueryLength;
    report[3] = kQueryCommand;
    report[5] = kQueryMarker;
    std::copy(selector.begin(), selector.end(), report.begin() + 6);

    if (!channel.flushDeviceQueue()) {
        return std::nullopt;
    }
    if (!channel.sendOutputReport(report.data(), kOutputReportLength)) {
        return std::nullopt;
    }
    std::array<uint8_t, kInputReportLength> status{};
    if (!channel.recvInputReport(status.data(), kQueryAnswerTimeoutMs)) {
        ConsolePrintf("timeout revc\n");
        return std::nullopt;
    }
    if ((status[1] & 0x01) == 0) {
        LogMessage(LogError, "KemoVideoFlash::flash, bad status 0x%02x", status[1]);
        return std::nullopt;
    }

    // Cleared, so the report id byte handed to the device is 0. At least one byte is
    // allocated so a device declaring no feature report still gets a valid buffer.
    FeatureReport answer;
    answer.length = caps.FeatureReportByteLength;
    answer.bytes = std::make_unique<uint8_t[]>(std::max<uint32_t>(answer.length, 1));
    if (!channel.getFeature(answer.bytes.get(), answer.length)) {
        return std::nullopt;
    }
    return answer;
}

bool KemoVideoFlash::startUpdate(uint8_t mode, uint8_t flags) {
    return sendReset(mode, flags) == ResetOutcome::Accepted;
}

KemoVideoFlash::ResetOutcome KemoVideoFlash::sendReset(uint8_t mode, uint8_t flags) {
    const std::optional<uint8_t> reportId = commandReportId();
    if (!reportId) {
        return ResetOutcome::NotSent;
    }

    std::array<uint8_t, kOutputReportLength> report{};
    report[0] = *reportId;
    report[1] = kResetLength;
    report[3] = mode;
    report[4] = flags;

    // A report left in the input queue (a late answer, one the device sent unasked) would
    // be taken for this reset's answer.
    if (!channel.flushDeviceQueue()) {
        return ResetOutcome::NotSent;
    }
    // The reset goes out with the declared length; the buffer holds no more than 264.
    const uint32_t length = caps.OutputReportByteLength;
    if (length > kOutputReportLength || !channel.sendOutputReport(report.data(), length)) {
        LogWriteText(LogError, "KemoVideoFlash::startUpdate, sendOutputReport MCU RESET failed");
        return ResetOutcome::NotSent;
    }
    std::array<uint8_t, kInputReportLength> status{};
    if (!channel.recvInputReport(status.data(), kQueryAnswerTimeoutMs)) {
        LogMessage(LogInfo, "timeout revc");
        return ResetOutcome::Unanswered;
    }
    if ((status[1] & 0x01) != 0) {
        return ResetOutcome::Accepted;
    }
    LogMessage(LogError, "KemoVideoFlash::startUpdate, bad status 0x%02x", status[1]);
    return ResetOutcome::Refused;
}
