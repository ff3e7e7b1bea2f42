// The monitor's video controller: its report protocol, firmware levels and configuration.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "devices/ZelHidFlash.h"
#include "hid/HidIo.h"
#include "settings/KemoHWData.h"

struct ComponentRecord {
    uint8_t number = 0;
    uint8_t gen = 0;
    uint8_t rev = 0;
    uint8_t flags = 0;
};

// A feature report fetched after a successful query.
struct FeatureReport {
    std::unique_ptr<uint8_t[]> bytes;
    uint32_t length = 0;
};

inline constexpr uint32_t kOutputReportLength = 264;
inline constexpr uint32_t kQueryAnswerTimeoutMs = 3000;
inline constexpr uint32_t kWriteAnswerTimeoutMs = 7000;
inline constexpr std::array<uint8_t, 3> kSelectorFirmwareLevels{0xFF, 0x00, 0x01};
inline constexpr std::array<uint8_t, 3> kSelectorConfiguration{0x01, 0x00, 0x00};

class KemoVideoFlash : public ZelHidFlash {
public:
    KemoVideoFlash();
    ~KemoVideoFlash() override;

    bool initialise(HidHandle handle, HidPreparsedData preparsed, std::wstring path) override;
    bool getFirmwareLevels(DeviceLevels& record) override;
    bool updateDevice(std::wstring iniPath) override;
    bool saveCurrentConfig(std::wstring iniPath) override;
    bool saveDefaultConfig(std::wstring iniPath) override;
    bool readCurrentConfig(std::array<uint8_t, kCfgImageSize>& image) override;

    std::optional<FeatureReport> flash(const std::array<uint8_t, 3>& selector);
    bool startUpdate(uint8_t mode, uint8_t flags);
    bool writeKemoHWConfigBytes(const std::array<uint8_t, kCfgBlockSize>& block);
    bool readConfigBytes();
    void showProgress(int step);

    // The report id that opens every output report, if the device declares one.
    std::optional<uint8_t> commandReportId() const;

private:
    // How a reset exchange ended. Unanswered: the report went out but no answer was read in
    // time, so the controller may have acted on it.
    enum class ResetOutcome { Accepted, Refused, Unanswered, NotSent };
    ResetOutcome sendReset(uint8_t mode, uint8_t flags);
    // Sends a record write or the commit and checks the status of its answer.
    bool sendWriteReport(const std::array<uint8_t, kOutputReportLength>& report);
    // The records and the commit, sent once the controller is in update mode.
    bool writeInUpdateMode(const std::array<uint8_t, kCfgBlockSize>& block);
    // After a failure in update mode: the leaving reset, sent once, its outcome logged.
    void leaveUpdateMode();

    HidValueCaps inputValueCaps{};
    std::vector<HidValueCaps> outputValueCaps;  // every one the device declares
    HidValueCaps featureValueCaps{};
    HidIo channel;
    std::array<ComponentRecord, 4> components{};
    KemoHWData settings;
    int32_t lastProgressPercent = 0;
};
