// The state file of marvanecfgutil-sim (its monitors, their settings, configuration bytes
// and scripted faults: SimStateParse.cpp reads it, SimStateFormat.cpp writes it) and the
// session around one run of the product (SimSession.cpp). The format is described in
// sim/README.md.
#pragma once

#include <string>
#include <vector>

#include "sim/SimBus.h"

namespace sim {

inline constexpr char kStateFileName[] = "marvanecfgutil-sim.state";
inline constexpr char kTranscriptFileName[] = "marvanecfgutil-sim.transcript";
inline constexpr size_t kMaxStateMonitors = 64;

// Reads state text. On the first bad line returns false with "line N: what is wrong" in
// error and leaves monitors untouched.
bool ParseState(const std::string& text, std::vector<SimMonitor>& monitors, std::string& error);
// The state text of the monitors' settings, configuration bytes and faults.
std::string FormatState(const std::vector<SimMonitor>& monitors);

// Reads and parses the state file at path. On failure returns false with what to tell the
// user in error (the path, and what is wrong with the file) and leaves monitors untouched.
bool LoadState(const std::string& path, std::vector<SimMonitor>& monitors, std::string& error);

// One run of marvanecfgutil-sim in directory: loads the state file (writing the default
// one when it is missing), runs the product's entry function on the simulated machine,
// saves the state when a monitor's settings changed (replacing the file in one step, so a
// failed save leaves the old state whole), and appends the run's transcript.
// A state file that cannot be read or parsed stops the run with status 1 before anything
// runs, and is left as it was.
using EntryFunction = int (*)(int argc, char* argv[]);
int RunSimSession(const std::string& directory, int argc, char* argv[], EntryFunction entry);

}  // namespace sim
