#include "app/Driver.h"

#include <memory>

#include "app/Help.h"
#include "app/HidDisplayManager.h"
#include "app/RunLock.h"
#include "devices/KemoVideoFlash.h"
#include "log/Log.h"
#include "platform/Administrator.h"
#include "platform/Console.h"
#include "platform/Text.h"

namespace {

DeviceLevels LevelsOf(ZelHidFlash& device) {
    DeviceLevels record;
    device.getFirmwareLevels(record);  // the record is used as the device left it
    return record;
}

void PrintUnknownSerial() {
    ConsoleErrorPrintf("Error: Unknown serial number. Please try again.\n");
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

int ListDevices(const std::vector<ZelHidFlash*>& devices) {
    LogMessage(LogDebug, "Showing HW Configuration of all monitors attached");
    for (ZelHidFlash* device : devices) {
        const DeviceLevels record = LevelsOf(*device);
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
                  const std::string& serial) {
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
        if (!device->updateDevice(iniPath)) {
            ConsolePrintf("Error: Updating device '%s' failed.\n", Narrow(record.serial).c_str());
            status = 1;
        }
        if (!wideSerial.empty()) {
            break;
        }
    }
    return status;
}

int RunCfgUtil(int argc, char* argv[]) {
    return RunCfgUtil(argc, argv, kRunLockWaitMs);
}

int RunCfgUtil(int argc, char* argv[], uint32_t lockWaitMs) {
    if (!IsAdministrator()) {
        ConsoleErrorPrintf("\nMust be run in command-line with Administrative rights.\n");
        return 1;
    }

    CommandLine commandLine;
    int exitStatus = 1;
    if (!ParseCommandLine(argc, argv, commandLine, exitStatus)) {
        return exitStatus;
    }

    // One run at a time talks to the monitors, -g too: its discovery sends every monitor the
    // firmware query, which must not land between another run's records and its commit. A
    // lock that cannot be had at all (logged) stops no run.
    if (AcquireRunLock(lockWaitMs) == RunLockStatus::Busy) {
        ConsolePrintf("Error: Another run of this program is using the monitors.\n");
        return 1;
    }

    // Declared in this order so that they are released in reverse on every path: the
    // device pointers, the firmware records, then the manager and the devices it owns.
    HidDisplayManager manager;
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
            return ListDevices(devices);
        case RunMode::WriteCurrentIni:
            return WriteCurrentIni(devices, commandLine.iniFileName, commandLine.serial);
        case RunMode::WriteDefaultIni:
            return WriteDefaultIni(commandLine.iniFileName);
        case RunMode::UpdateFromIni:
            return UpdateFromIni(devices, commandLine.iniFileName, commandLine.serial);
        case RunMode::None:
            break;
    }
    return 1;  // ParseCommandLine never lets a run through without a mode
}
