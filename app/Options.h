// Command-line parsing into exactly one run mode.
#pragma once

#include <string>

enum class RunMode : int {
    None = 0,
    WriteCurrentIni = 2,  // -o
    WriteDefaultIni = 3,  // -g
    UpdateFromIni = 5,    // -i
    ListDevices = 6,      // -L
};

inline constexpr const char* kOptionString = "g:vLl:s:i:o:?";
// The command line's file name and serial buffers hold 259 characters and a terminator.
inline constexpr size_t kMaxArgumentLength = 259;

// Traditional single-character option scanner with the program's own messages.
// State is process-wide, like the C library's; getoptReset() starts a new scan.
extern int optind;
extern const char* optarg;
int getopt(int argc, char* const argv[]);
void getoptReset();

struct CommandLine {
    RunMode mode = RunMode::None;
    std::string iniFileName;
    std::string serial;
    std::string logFileName;
};

// Parses the options. Returns true with the command line filled when a mode is to run;
// false when the run ends here, with exitStatus set and the usage or help already printed.
bool ParseCommandLine(int argc, char* argv[], CommandLine& commandLine, int& exitStatus);
