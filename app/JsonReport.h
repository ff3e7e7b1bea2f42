// What -L and --check found, as one JSON document for scripts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "devices/DeviceLevels.h"
#include "settings/SettingsItems.h"

// Bumped whenever a field changes meaning or goes away; new fields keep the version.
inline constexpr int kJsonSchemaVersion = 1;

// One setting on which a monitor and a settings file disagree.
struct SettingDifference {
    const SettingsItem* item;
    uint8_t monitor;
    uint8_t file;
};

// The 17 settings that differ, in the item table's order (the order the INI writer writes).
std::vector<SettingDifference> CompareSettings(const std::array<uint8_t, kCfgImageSize>& monitor,
                                               const std::array<uint8_t, kCfgImageSize>& file);

struct MonitorCheck {
    bool read = false;  // false: the monitor did not give its configuration
    std::vector<SettingDifference> differences;
};

class JsonReport {
public:
    // The settings file of a check, as typed on the command line.
    void setFile(const std::string& iniFileName) { file = iniFileName; }
    void addMonitor(const DeviceLevels& levels, const std::optional<MonitorCheck>& check);
    // The document on one line, ending in a line end.
    std::string text() const;

private:
    struct Monitor {
        DeviceLevels levels;
        std::optional<MonitorCheck> check;
    };
    std::optional<std::string> file;
    std::vector<Monitor> monitors;
};
