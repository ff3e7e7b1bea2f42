// Arbitrary command lines through the option parser: it must never read past an argument,
// accept an over-long name, let a long option through with a mode it does not go with, or
// end a refused command line with status 0 (only --help ends with 0 without a run).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/Options.h"
#include "log/Log.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    GetLogHandler();  // built now at level Off, so that a fuzzed -l creates no file
    return std::freopen("/dev/null", "w", stdout) == nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // NUL-separated words, each its own allocation so the sanitizer sees a read past any.
    std::vector<std::string> words{"marvanecfgutil", ""};
    for (size_t i = 0; i < size && words.size() < 17; ++i) {
        data[i] == 0 ? (void)words.emplace_back()
                     : words.back().push_back(static_cast<char>(data[i]));
    }
    std::vector<std::unique_ptr<char[]>> storage;
    std::vector<char*> argv;
    for (const auto& w : words) {
        storage.push_back(std::make_unique<char[]>(w.size() + 1));
        std::copy(w.c_str(), w.c_str() + w.size() + 1, storage.back().get());
        argv.push_back(storage.back().get());
    }
    argv.push_back(nullptr);

    CommandLine line;
    int exitStatus = -1;
    VerboseFlag() = 0;
    const bool help = std::find(words.begin(), words.end(), "--help") != words.end();
    if (ParseCommandLine(static_cast<int>(words.size()), argv.data(), line, exitStatus)
            ? line.mode == RunMode::None || line.iniFileName.size() > kMaxArgumentLength ||
                  line.serial.size() > kMaxArgumentLength ||
                  line.logFileName.size() > kMaxArgumentLength ||
                  (line.ifNeeded && line.mode != RunMode::UpdateFromIni) ||
                  (line.json && line.mode != RunMode::ListDevices &&
                   line.mode != RunMode::CheckAgainstIni) ||
                  (line.mode == RunMode::CheckAgainstIni && line.iniFileName.empty())
            : exitStatus != 1 && !(exitStatus == 0 && help)) {
        std::abort();
    }
    GetLogSettings() = CLogSettings{};
    return 0;
}
