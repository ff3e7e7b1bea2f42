// Command-line parsing into exactly one run mode.
#pragma once

#include <cstddef>
#include <string>

enum class RunMode : int {
    None = 0,
    WriteCurrentIni = 2,  // -o
    WriteDefaultIni = 3,  // -g
    UpdateFromIni = 5,    // -i
    ListDevices = 6,      // -L
    CheckAgainstIni = 7,  // --check
};

inline constexpr const char* kOptionString = "g:vLl:s:i:o:?";
// The command line's file name and serial buffers hold 259 characters and a terminator.
inline constexpr size_t kMaxArgumentLength = 259;

// What getopt returns for the long options ("--name", "--name VALUE", "--name=VALUE"):
// above every character, so that no single-letter option can be mistaken for one.
inline constexpr int kLongCheck = 0x100;
inline constexpr int kLongIfNeeded = 0x101;
inline constexpr int kLongJson = 0x102;
inline constexpr int kLongHelp = 0x103;

struct LongOption {
    const char* name;  // without the leading "--"
    bool takesArgument;
    int code;
};

inline constexpr LongOption kLongOptions[] = {
    {"check", true, kLongCheck},
    {"if-needed", false, kLongIfNeeded},
    {"json", false, kLongJson},
    {"help", false, kLongHelp},
};

// Traditional single-character option scanner with the program's own messages.
// State is process-wide, like the C library's; getoptReset() starts a new scan.
// Kept in its own namespace so that it never meets the C library's getopt, optind and
// optarg from <unistd.h> or <getopt.h>.
namespace cmdline {
extern int optind;          // index of the next argument word
extern int optpos;          // position inside the current word
extern const char* optarg;  // argument of the option just returned, or null
int getopt(int argc, char* const argv[]);
void getoptReset();
}  // namespace cmdline

struct CommandLine {
    RunMode mode = RunMode::None;
    std::string iniFileName;
    std::string serial;
    std::string logFileName;
    bool ifNeeded = false;  // -i: leave a monitor that already holds the file's settings alone
    bool json = false;      // -L, --check: one JSON document on standard output
};

// Parses the options. Returns true with the command line filled when a mode is to run;
// false when the run ends here, with exitStatus set and the usage or help already printed
// (--help ends the run with 0).
// -l sets the log settings and -v the verbose flag as soon as they are parsed.
bool ParseCommandLine(int argc, char* argv[], CommandLine& commandLine, int& exitStatus);
