#include "app/Driver.h"

#include <array>
#include <memory>

#include "app/Help.h"
#include "app/HidDisplayManager.h"
#include "app/RunLock.h"
#include "devices/KemoVideoFlash.h"
#include "log/Log.h"
#include "platform/Administrator.h"
#include "platform/Console.h"
#include "platform/Text.h"
#include "settings/KemoHWData.h"

namespace {

DeviceLevels LevelsOf(ZelHidFlash& device) {
    DeviceLevels record;
    device.getFirmwareLevels(record);  // the record is used as the device left it
    return record;
}

void PrintUnknownSerial() {
    ConsoleErrorPrintf("Error: Unknown serial number. Please try again.\n");
}

// The file's 17 values, read and range-checked exactly as an update reads them (the same
// messages on a refusal), into a settings image.
bool ReadSettingsFile(const std::string& iniFileName, std::array<uint8_t, kCfgImageSize>& image) {
    KemoHWData file;
    if (!file.ReadINIFile(Widen(iniFileName))) {
        return false;
    }
    image = file.CfgImage();
    return true;
}

// Reads the device's settings and compares them with the file's.
MonitorCheck CheckDevice(ZelHidFlash& device, const std::array<uint8_t, kCfgImageSize>& file) {
    MonitorCheck check;
    std::array<uint8_t, kCfgImageSize> monitor{};
    check.read = device.readCurrentConfig(monitor);
    if (check.read) {
        check.differences = CompareSettings(monitor, file);
    }
    return check;
}

}  // namespace

bool FindSerial(const std::vector<ZelHidFlash*>& devices, const std::wstring& serial) {
    for (ZelHidFlash* device : devices) {
        // std::wstring equality: same length and the same units, case and blanks included.
        if (LevelsOf(*device).serial == serial) {
            return true;
        }
    }
    return false;
}

int ListDevices(const std::vector<ZelHidFlash*>& devices, JsonReport* report) {
    LogMessage(LogDebug, "Showing HW Configuration of all monitors attached");
    for (ZelHidFlash* device : devices) {
        const DeviceLevels record = LevelsOf(*device);
        if (report != nullptr) {
            report->addMonitor(record, std::nullopt);
            continue;
        }
        ConsolePrintf("Device: %04x:%04x  serial/id=%s\n", record.vid, record.pid,
                      Narrow(record.serial).c_str());
        ConsolePrintf("  Firmware Level%s\n", record.components.size() > 1 ? "s:" : ":");
        for (const ComponentLevel& component : record.components) {
            ConsolePrintf("   %s=%04x\n", Narrow(component.name).c_str(), component.level);
        }
        ConsolePrintf("\n");
    }
    return 0;
}

int WriteCurrentIni(const std::vector<ZelHidFlash*>& devices, const std::string& iniFileName,
                    const std::string& serial) {
    ConsolePrintf("Creating INI file from current configuration\n");
    const std::wstring wideSerial = Widen(serial);
    if (!wideSerial.empty() && !FindSerial(devices, wideSerial)) {
        PrintUnknownSerial();
        return 1;
    }
    const std::wstring iniPath = Widen(iniFileName);

    // One INI file only, from the first device or the first one with the serial.
    bool written = false;
    for (ZelHidFlash* device : devices) {
        if (!wideSerial.empty() && LevelsOf(*device).serial != wideSerial) {
            continue;
        }
        written = device->saveCurrentConfig(iniPath);
        break;
    }
    if (!written) {
        return 1;
    }
    ConsolePrintf("Check the generated \"%s\" file.\n", iniFileName.c_str());
    return 0;
}

int WriteDefaultIni(const std::string& iniFileName) {
    ConsolePrintf("Generating default HW configuration to \"%s\" file.\n", iniFileName.c_str());
    bool written = false;
    {
        // Never initialised: the defaults need no monitor. Gone before the closing line, so
        // whatever its teardown echoes under -v belongs to the job, not after it.
        KemoVideoFlash device;
        written = device.saveDefaultConfig(Widen(iniFileName));
    }
    if (!written) {
        return 1;
    }
    ConsolePrintf("Check the generated \"%s\" file.\n", iniFileName.c_str());
    return 0;
}

int UpdateFromIni(const std::vector<ZelHidFlash*>& devices, const std::string& iniFileName,
                  const std::string& serial, bool ifNeeded) {
    LogMessage(LogDebug, "Updating device(s) using \"%s\" file.", iniFileName.c_str());
    const std::wstring wideSerial = Widen(serial);
    if (!wideSerial.empty() && !FindSerial(devices, wideSerial)) {
        PrintUnknownSerial();
        return 1;
    }
    const std::wstring iniPath = Widen(iniFileName);

    // Every device is tried even after a failure; any failure fails the run.
    int status = 0;
    for (ZelHidFlash* device : devices) {
        const DeviceLevels record = LevelsOf(*device);
        if (!wideSerial.empty() && record.serial != wideSerial) {
            continue;
        }
        bool needed = true;
        bool failed = false;
        if (ifNeeded) {
            // The file is checked before the device is asked, as the update itself would.
            std::array<uint8_t, kCfgImageSize> file{};
            if (!ReadSettingsFile(iniFileName, file)) {
                failed = true;
            } else {
                const MonitorCheck check = CheckDevice(*device, file);
                failed = !check.read;
                needed = !check.differences.empty();
            }
        }
        if (!failed && !needed) {
            ConsolePrintf("Device '%s' already matches, not updated.\n",
                          Narrow(record.serial).c_str());
        } else if (failed || !device->updateDevice(iniPath)) {
            ConsolePrintf("Error: Updating device '%s' failed.\n", Narrow(record.serial).c_str());
            status = 1;
        }
        if (!wideSerial.empty()) {
            break;
        }
    }
    return status;
}

int CheckAgainstIni(const std::vector<ZelHidFlash*>& devices, const std::string& iniFileName,
                    const std::string& serial, JsonReport* report) {
    LogMessage(LogDebug, "Checking device(s) against \"%s\" file.", iniFileName.c_str());
    const std::wstring wideSerial = Widen(serial);
    if (!wideSerial.empty() && !FindSerial(devices, wideSerial)) {
        PrintUnknownSerial();
        return 1;
    }
    std::array<uint8_t, kCfgImageSize> file{};
    if (!ReadSettingsFile(iniFileName, file)) {
        return 1;
    }

    // Every device is asked even after a failure; a failure outweighs a difference.
    bool failed = false;
    bool drift = false;
    for (ZelHidFlash* device : devices) {
        const DeviceLevels record = LevelsOf(*device);
        if (!wideSerial.empty() && record.serial != wideSerial) {
            continue;
        }
        const MonitorCheck check = CheckDevice(*device, file);
        failed = failed || !check.read;
        drift = drift || !check.differences.empty();
        if (report != nullptr) {
            report->addMonitor(record, check);
        } else if (check.read) {
            const std::string name = Narrow(record.serial);
            if (check.differences.empty()) {
                ConsolePrintf("Device '%s' matches.\n", name.c_str());
            }
            for (const SettingDifference& difference : check.differences) {
                ConsolePrintf("Device '%s' differs: %s monitor=%02x file=%02x\n", name.c_str(),
                              Narrow(difference.item->key).c_str(), difference.monitor,
                              difference.file);
            }
        }
        if (!wideSerial.empty()) {
            break;
        }
    }
    return failed ? 1 : drift ? kExitDrift : 0;
}

namespace {

// With --json, standard output carries the document alone: while this lives everything else
// goes to standard error, and the document is written when it ends. A run that fails still
// writes one, with the monitors it got to.
class JsonOutput {
public:
    explicit JsonOutput(const CommandLine& commandLine) : on(commandLine.json) {
        if (!on) {
            return;
        }
        if (commandLine.mode == RunMode::CheckAgainstIni) {
            document.setFile(commandLine.iniFileName);  // also when no monitor is reached
        }
        ConsoleSendOutputToError(true);
    }
    ~JsonOutput() {
        if (on) {
            ConsoleSendOutputToError(false);
            ConsoleWriteDocument(document.text());
        }
    }
    JsonOutput(const JsonOutput&) = delete;
    JsonOutput& operator=(const JsonOutput&) = delete;

    JsonReport* report() { return on ? &document : nullptr; }

private:
    bool on;
    JsonReport document;
};

}  // namespace

int RunCfgUtil(int argc, char* argv[], const DiscoveryWalks& walks, uint32_t lockWaitMs) {
    if (!IsAdministrator()) {
        ConsoleErrorPrintf("\nMust be run in command-line with Administrative rights.\n");
        return 1;
    }

    CommandLine commandLine;
    int exitStatus = 1;
    if (!ParseCommandLine(argc, argv, commandLine, exitStatus)) {
        return exitStatus;
    }
    JsonOutput json(commandLine);  // before the manager: written once the devices are gone

    // One run at a time talks to the monitors, -g too: its discovery sends every monitor the
    // firmware query, which must not land between another run's records and its commit. A
    // lock that cannot be had at all (logged) stops no run.
    if (AcquireRunLock(lockWaitMs) == RunLockStatus::Busy) {
        ConsolePrintf("Error: Another run of this program is using the monitors.\n");
        return 1;
    }

    // Declared in this order so that they are released in reverse on every path: the
    // device pointers, the firmware records, then the manager and the devices it owns.
    HidDisplayManager manager(walks);
    if (!manager.initialise()) {
        return 1;
    }
    std::vector<DeviceLevels> firmware;
    const int dspcode = manager.list().getAllFirmwareLevels(firmware);
    if (dspcode != 0 && commandLine.mode != RunMode::WriteDefaultIni) {
        if (dspcode == kDspCodeNoDevice) {
            ConsolePrintf("Error: No single 7352 device is attached.\n");
        }
        return 1;
    }
    const std::vector<ZelHidFlash*> devices = manager.list().hidDevices();

    switch (commandLine.mode) {
        case RunMode::ListDevices:
            return ListDevices(devices, json.report());
        case RunMode::WriteCurrentIni:
            return WriteCurrentIni(devices, commandLine.iniFileName, commandLine.serial);
        case RunMode::WriteDefaultIni:
            return WriteDefaultIni(commandLine.iniFileName);
        case RunMode::UpdateFromIni:
            return UpdateFromIni(devices, commandLine.iniFileName, commandLine.serial,
                                 commandLine.ifNeeded);
        case RunMode::CheckAgainstIni:
            return CheckAgainstIni(devices, commandLine.iniFileName, commandLine.serial,
                                   json.report());
        case RunMode::None:
            break;
    }
    return 1;  // ParseCommandLine never lets a run through without a mode
}
