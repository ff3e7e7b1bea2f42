// The program's entry function and its run modes.
#pragma once

#include <string>
#include <vector>

#include "app/Options.h"
#include "devices/ZelHidFlash.h"

// The whole program: administrator check, options, discovery, the mode. Returns the exit
// status. main() is a thin shell around it.
int RunCfgUtil(int argc, char* argv[]);

// The modes over the discovered devices, in discovery order. Each returns the exit status.
int ListDevices(const std::vector<ZelHidFlash*>& devices);
int WriteCurrentIni(const std::vector<ZelHidFlash*>& devices, const std::string& iniFileName,
                    const std::string& serial);
int WriteDefaultIni(const std::string& iniFileName);
int UpdateFromIni(const std::vector<ZelHidFlash*>& devices, const std::string& iniFileName,
                  const std::string& serial);
// True when a device's serial equals the given one exactly (same length, same units).
bool FindSerial(const std::vector<ZelHidFlash*>& devices, const std::wstring& serial);
