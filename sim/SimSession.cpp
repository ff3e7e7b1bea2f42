// One run of marvanecfgutil-sim: the state file loaded (or made) before the run, saved after
// it when a monitor changed, and the run's transcript appended beside it.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/Console.h"
#include "platform/ReplaceFile.h"
#include "platform/Text.h"
#include "sim/SimState.h"

namespace sim {
namespace {

void WriteError(const std::string& text) {
    ConsoleErrorPrintf("marvanecfgutil-sim: %s\n", text.c_str());
}

bool SaveState(const std::string& path, const std::vector<SimMonitor>& monitors,
               std::string& error) {
    uint32_t code = 0;
    if (ReplaceFileAtomically(Widen(path), FormatState(monitors), code)) {
        return true;
    }
    error =
        "cannot replace " + path + ": " + std::system_category().message(static_cast<int>(code));
    return false;
}

}  // namespace

bool LoadState(const std::string& path, std::vector<SimMonitor>& monitors, std::string& error) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::ostringstream content;
    if (in) {
        content << in.rdbuf();
    }
    if (!in || in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    if (!ParseState(content.str(), monitors, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

int RunSimSession(const std::string& directory, int argc, char* argv[], EntryFunction entry) {
    const std::filesystem::path dir(directory);
    const std::string statePath = (dir / kStateFileName).string();
    std::vector<SimMonitor> monitors;
    std::error_code ec;
    const bool exists = std::filesystem::exists(statePath, ec);
    if (ec) {
        // Never mistake an unreadable file for a missing one and write over it.
        WriteError("cannot look for " + statePath + ": " + ec.message());
        return 1;
    }
    std::string error;
    bool ready = false;
    if (exists) {
        ready = LoadState(statePath, monitors, error);
    } else {
        monitors = DefaultMonitors();
        ready = SaveState(statePath, monitors, error);
    }
    if (!ready) {
        WriteError(error);
        return 1;
    }

    SimBus& bus = SimBus::instance();
    bus.loadMonitors(monitors);
    int status = entry(argc, argv);

    // Comments of a hand-written file survive runs that change nothing. The run lock reloads
    // the state once it is ours, so the changes are those since that load: a run that waited
    // and then put back what it saw before waiting still changed the file's state.
    if (FormatState(bus.monitors) != FormatState(bus.loadedFrom) &&
        !SaveState(statePath, bus.monitors, error)) {
        WriteError(error + " (the monitors' new state is lost)");
        status = 1;
    }

    if (!bus.transcript.empty()) {
        std::string text = "# marvanecfgutil-sim";
        for (int i = 1; i < argc; ++i) {
            text += " ";
            text += argv[i];
        }
        text += " (exit status " + std::to_string(status) + ")\n";
        for (const std::string& line : bus.transcript) {
            text += line + "\n";
        }
        const std::string transcriptPath = (dir / kTranscriptFileName).string();
        std::ofstream out(transcriptPath, std::ios::binary | std::ios::app);
        out << text;
        out.flush();
        if (!out) {
            WriteError("cannot append to " + transcriptPath);
        }
    }
    ConsoleFlush();
    return status;
}

}  // namespace sim
