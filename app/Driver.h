// The program's entry function and its run modes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/JsonReport.h"
#include "app/Options.h"
#include "app/RunLock.h"
#include "devices/ZelHidFlash.h"
#include "discovery/Walks.h"

// The whole program: administrator check, options, the run lock, discovery over the
// backend's walks, the mode. Returns the exit status. main() is a thin shell around it that
// gives it its backend's walks. lockWaitMs: how long to wait for another run to finish
// with the monitors.
int RunCfgUtil(int argc, char* argv[], const DiscoveryWalks& walks,
               uint32_t lockWaitMs = kRunLockWaitMs);

// The modes over the discovered devices, in discovery order. Each returns the exit status:
// 0 when the job asked for was done, 1 when it was not (unknown serial, no INI file
// written, an update that failed).
// With a report, the monitors go into it instead of onto the console.
int ListDevices(const std::vector<ZelHidFlash*>& devices, JsonReport* report = nullptr);
int WriteCurrentIni(const std::vector<ZelHidFlash*>& devices, const std::string& iniFileName,
                    const std::string& serial);
// Writes the defaults through a freshly constructed KemoVideoFlash; no device is opened.
int WriteDefaultIni(const std::string& iniFileName);
// ifNeeded: a device whose settings already equal the file's is left alone; one whose
// settings cannot be read counts as failed.
int UpdateFromIni(const std::vector<ZelHidFlash*>& devices, const std::string& iniFileName,
                  const std::string& serial, bool ifNeeded = false);
// Compares each device (or the one with the serial) with the file, writing nothing: 0 when
// all match, 2 when one differs, 1 when the file is refused or a device cannot be read.
int CheckAgainstIni(const std::vector<ZelHidFlash*>& devices, const std::string& iniFileName,
                    const std::string& serial, JsonReport* report = nullptr);
inline constexpr int kExitDrift = 2;
// True when a device's serial equals the given one exactly (same length, same units).
bool FindSerial(const std::vector<ZelHidFlash*>& devices, const std::wstring& serial);
