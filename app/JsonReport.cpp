#include "app/JsonReport.h"

#include <nlohmann/json.hpp>

#include "platform/Text.h"

namespace {

using Json = nlohmann::ordered_json;  // fields in the order written, as the text output

std::string Hex(unsigned value, int digits) {
    return FormatString("%0*x", digits, value);
}

}  // namespace

std::vector<SettingDifference> CompareSettings(const std::array<uint8_t, kCfgImageSize>& monitor,
                                               const std::array<uint8_t, kCfgImageSize>& file) {
    std::vector<SettingDifference> differences;
    for (const SettingsItem& item : kSettingsItems) {
        if (monitor[item.imageOffset] != file[item.imageOffset]) {
            differences.push_back({&item, monitor[item.imageOffset], file[item.imageOffset]});
        }
    }
    return differences;
}

void JsonReport::addMonitor(const DeviceLevels& levels, const std::optional<MonitorCheck>& check) {
    monitors.push_back({levels, check});
}

std::string JsonReport::text() const {
    Json document = Json::object();
    document["schemaVersion"] = kJsonSchemaVersion;
    if (file) {
        // Typed in the system's code page; the document is UTF-8.
        document["file"] = ToUtf8(Widen(*file));
    }
    document["monitors"] = Json::array();
    for (const Monitor& monitor : monitors) {
        Json entry = Json::object();
        entry["vid"] = Hex(monitor.levels.vid, 4);
        entry["pid"] = Hex(monitor.levels.pid, 4);
        entry["serial"] = ToUtf8(monitor.levels.serial);
        Json firmware = Json::object();
        for (const ComponentLevel& component : monitor.levels.components) {
            firmware[ToUtf8(component.name)] = Hex(component.level, 4);
        }
        entry["firmware"] = firmware;
        if (monitor.check) {
            // null: the monitor's settings could not be read, so nobody knows.
            entry["matches"] =
                monitor.check->read ? Json(monitor.check->differences.empty()) : Json(nullptr);
            Json differences = Json::array();
            for (const SettingDifference& difference : monitor.check->differences) {
                differences.push_back({{"section", ToUtf8(difference.item->section)},
                                       {"key", ToUtf8(difference.item->key)},
                                       {"monitor", Hex(difference.monitor, 2)},
                                       {"file", Hex(difference.file, 2)}});
            }
            entry["differences"] = differences;
        }
        document["monitors"].push_back(entry);
    }
    // ToUtf8 leaves no invalid UTF-8, so dump() has nothing to throw for; replace all the same.
    return document.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}
