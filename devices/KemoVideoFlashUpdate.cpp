// The configuration write sequence and the INI operations of the video controller.
#include <algorithm>

#include "devices/KemoVideoFlash.h"
#include "hid/HidClock.h"
#include "log/Log.h"
#include "platform/Console.h"
#include "platform/Text.h"

namespace {

// The component whose number the update prints.
constexpr size_t kReportedComponent = 2;

// A record carries at most 16 data bytes after its length and three address bytes.
constexpr uint8_t kMaxRecordData = 16;
constexpr uint8_t kWriteCommand = 0x02;
constexpr uint8_t kCommitLength = 5;
constexpr uint8_t kRecordHeaderLength = 5;

// Reset modes of the controller: enter update mode; leave it with a reset.
constexpr uint8_t kModeUpdate = 1;
constexpr uint8_t kModeNormal = 0;
constexpr uint8_t kFlagsNone = 0;
constexpr uint8_t kFlagsReset = 0x40;

// Pauses the controller needs around the sequence.
constexpr uint32_t kAfterUpdateModeMs = 10;
constexpr uint32_t kBeforeCommitMs = 10;
constexpr uint32_t kBeforeResetMs = 3000;
constexpr uint32_t kAfterResetMs = 8000;

constexpr int kProgressSteps = 6;

bool WriteStatusFailed(uint8_t status) {
    return (status & 0xC0) != 0;
}

}  // namespace

bool KemoVideoFlash::updateDevice(std::wstring iniPath) {
    // Only a block built from a file whose 17 values all passed may be sent.
    if (!settings.SetCfgBytes(iniPath)) {
        LogMessage(LogError, "KemoVideoFlash::updateDevice, unable to set the configuration bytes");
        return false;
    }
    const std::array<uint8_t, kCfgBlockSize> block = settings.CfgBlock();
    if (!writeKemoHWConfigBytes(block)) {
        LogMessage(LogError,
                   "KemoVideoFlash::updateDevice, unable to write configuration to device");
        return false;
    }
    return true;
}

// Sends one write or commit report and checks its answer.
bool KemoVideoFlash::sendWriteReport(const std::array<uint8_t, kOutputReportLength>& report) {
    if (!channel.flushDeviceQueue()) {
        return false;
    }
    if (!channel.sendOutputReport(report.data(), kOutputReportLength)) {
        return false;
    }
    std::array<uint8_t, kInputReportLength> status{};
    if (!channel.recvInputReport(status.data(), kWriteAnswerTimeoutMs)) {
        LogWriteText(LogError, "KemoVideoFlash::writeKemoHWConfigBytes, recvInputReport failed");
        return false;
    }
    if (WriteStatusFailed(status[1])) {
        LogMessage(LogError, "KemoVideoFlash::writeKemoHWConfigBytes, bad write status 0x%02x",
                   status[1]);
        return false;
    }
    return true;
}

bool KemoVideoFlash::writeKemoHWConfigBytes(const std::array<uint8_t, kCfgBlockSize>& block) {
    // A record claiming more than 16 data bytes would send bytes of the next record (or
    // read past the block): refuse the block before the controller leaves normal mode.
    for (size_t k = 0; k < kCfgRecordCount; ++k) {
        const uint8_t dataLength = block[kCfgRecordsOffset + k * kCfgRecordSize];
        if (dataLength > kMaxRecordData) {
            LogMessage(LogError, "KemoVideoFlash::writeKemoHWConfigBytes, bad record %d length %d",
                       static_cast<int>(k), dataLength);
            return false;
        }
    }

    const ResetOutcome entered = sendReset(kModeUpdate, kFlagsNone);
    if (entered != ResetOutcome::Accepted) {
        // An answer lost or late does not mean the controller stayed in normal mode.
        if (entered == ResetOutcome::Unanswered) {
            leaveUpdateMode();
        }
        return false;
    }
    HidSleep(kAfterUpdateModeMs);
    if (!writeInUpdateMode(block)) {
        leaveUpdateMode();
        return false;
    }

    HidSleep(kBeforeResetMs);
    ConsolePrintf("Reset to be done for PID %04x\n", attributes.ProductID);
    // The commit was acknowledged; a controller busy resetting may not answer this one.
    (void)startUpdate(kModeNormal, kFlagsReset);
    ConsolePrintf("Preparing the device for normal use...\n");
    HidSleep(kAfterResetMs);
    return true;
}

// Everything from entering update mode to the acknowledged commit.
bool KemoVideoFlash::writeInUpdateMode(const std::array<uint8_t, kCfgBlockSize>& block) {
    const std::optional<uint8_t> reportId = commandReportId();
    if (!reportId) {
        return false;
    }
    const uint16_t pid = attributes.ProductID;
    const int component = components[kReportedComponent].number;
    ConsolePrintf("\nFirmware file found:  %s\n", Narrow(settings.GetINIFilePath()).c_str());
    ConsolePrintf("  Device - PID: %04x  COMP: %02x (SN='%s')\n", pid, component,
                  Narrow(serial).c_str());
    if (caps.OutputReportByteLength != kOutputReportLength) {
        return false;
    }
    ConsolePrintf("    Starting firmware update of Product ID %04x COMP: %d\n", pid, component);
    ConsolePrintf("Updating Firmware in USB Device %04x component %d\n", pid, component);

    for (size_t k = 0; k < kCfgRecordCount; ++k) {
        const uint8_t* record = block.data() + kCfgRecordsOffset + k * kCfgRecordSize;
        const uint8_t dataLength = record[0];
        std::array<uint8_t, kOutputReportLength> report{};
        report[0] = *reportId;
        report[1] = static_cast<uint8_t>(dataLength + kRecordHeaderLength);
        report[3] = kWriteCommand;
        report[5] = dataLength;
        std::copy(record + 1, record + 4, report.begin() + 6);
        std::copy(record + 4, record + 4 + dataLength, report.begin() + 9);
        if (!sendWriteReport(report)) {
            return false;
        }
        showProgress(static_cast<int>(k) + 1);
    }
    ConsolePrintf("Firmware update of Product ID %04x COMP: %d finished\n", pid, component);
    HidSleep(kBeforeCommitMs);

    std::array<uint8_t, kOutputReportLength> commit{};
    commit[0] = *reportId;
    commit[1] = kCommitLength;
    commit[3] = kWriteCommand;
    std::copy(block.begin() + kCfgCommitOffset, block.begin() + kCfgCommitOffset + 3,
              commit.begin() + 9);
    if (!sendWriteReport(commit)) {
        return false;
    }
    ConsolePrintf("Firmware in USB Device %04x component %d updated successfully\n", pid,
                  component);
    return true;
}

// A controller left in update mode stays there until it is power-cycled, so a failed update
// sends the leaving reset once. Its outcome changes nothing: the update has failed anyway.
void KemoVideoFlash::leaveUpdateMode() {
    if (!channel.isConnected()) {
        return;  // the device is gone: nothing can be sent
    }
    if (startUpdate(kModeNormal, kFlagsReset)) {
        LogWriteText(LogInfo,
                     "KemoVideoFlash::writeKemoHWConfigBytes, update failed, update mode left");
    } else {
        LogWriteText(
            LogError,
            "KemoVideoFlash::writeKemoHWConfigBytes, update failed, leaving update mode failed");
    }
}

void KemoVideoFlash::showProgress(int step) {
    const int percent = step * 100 / kProgressSteps;
    if (percent % 10 == 0) {
        if (percent <= lastProgressPercent) {
            return;
        }
        lastProgressPercent = percent;
        ConsolePrintf(" %%%-3d complete\n", percent);
    }
    if (percent > lastProgressPercent) {
        lastProgressPercent = percent;
        ConsolePrintf(".");
    }
}

bool KemoVideoFlash::readConfigBytes() {
    std::optional<FeatureReport> answer = flash(kSelectorConfiguration);
    if (!answer) {
        return false;
    }
    // An answer without the whole image holds nothing to write to a file.
    if (answer->length < kCfgAnswerMinSize) {
        LogMessage(LogError,
                   "KemoVideoFlash::readConfigBytes, configuration answer of %u bytes is too short",
                   answer->length);
        return false;
    }
    settings.StoreRawCfg(answer->bytes.get(), answer->length);
    return settings.LoadCurrentCfg();
}

bool KemoVideoFlash::readCurrentConfig(std::array<uint8_t, kCfgImageSize>& image) {
    if (!readConfigBytes()) {
        ConsolePrintf("Error: Reading the configuration of device '%s' failed.\n",
                      Narrow(serial).c_str());
        return false;
    }
    image = settings.CfgImage();
    return true;
}

bool KemoVideoFlash::saveCurrentConfig(std::wstring iniPath) {
    std::array<uint8_t, kCfgImageSize> image{};
    if (!readCurrentConfig(image)) {
        return false;
    }
    return settings.CreateINIFile(iniPath, true);
}

// Talks to no device, so it works on an object that was never initialised.
bool KemoVideoFlash::saveDefaultConfig(std::wstring iniPath) {
    return settings.CreateINIFile(iniPath, false);
}
