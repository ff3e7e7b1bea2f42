// Reading and writing the simulator's state file, and the session around one run.
#include "sim/SimState.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Console.h"
#include "platform/Text.h"

namespace sim {

namespace {

std::vector<std::string> Tokens(const std::string& line) {
    std::vector<std::string> tokens;
    std::istringstream in(line);
    std::string token;
    while (in >> token) {
        tokens.push_back(token);
    }
    return tokens;
}

std::string Trim(const std::string& text, const char* blanks = " \t") {
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return "";
    }
    const size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// The rest of a monitor line. A carriage return at its end is trimmed as a blank: the
// saved line would end in it, and a line's last carriage return is taken as part of a
// Windows line end, so the serial could never read back the same.
std::string SerialOf(const std::string& rest) {
    return Trim(rest, " \t\r");
}

bool ParseNumber(std::string token, int base, uint32_t max, uint32_t& value) {
    if (base == 16 && token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
        token.erase(0, 2);
    }
    if (token.empty()) {
        return false;
    }
    uint32_t parsed = 0;
    const char* end = token.data() + token.size();
    const auto result = std::from_chars(token.data(), end, parsed, base);
    if (result.ec != std::errc() || result.ptr != end || parsed > max) {
        return false;
    }
    value = parsed;
    return true;
}

bool Hex8(const std::string& token, uint8_t& value) {
    uint32_t v = 0;
    if (!ParseNumber(token, 16, 0xFF, v)) {
        return false;
    }
    value = static_cast<uint8_t>(v);
    return true;
}

bool Hex16(const std::string& token, uint16_t& value) {
    uint32_t v = 0;
    if (!ParseNumber(token, 16, 0xFFFF, v)) {
        return false;
    }
    value = static_cast<uint16_t>(v);
    return true;
}

bool Decimal16(const std::string& token, uint16_t& value) {
    uint32_t v = 0;
    if (!ParseNumber(token, 10, 0xFFFF, v)) {
        return false;
    }
    value = static_cast<uint16_t>(v);
    return true;
}

// "01:0105" or "01:0105:80": component number, level (rev * 256 + gen), flags.
bool Component(const std::string& token, uint8_t out[4]) {
    const size_t first = token.find(':');
    if (first == std::string::npos) {
        return false;
    }
    const size_t second = token.find(':', first + 1);
    uint8_t number = 0;
    uint16_t level = 0;
    uint8_t flags = 0;
    if (!Hex8(token.substr(0, first), number) ||
        !Hex16(token.substr(first + 1,
                            second == std::string::npos ? std::string::npos : second - first - 1),
               level) ||
        (second != std::string::npos && !Hex8(token.substr(second + 1), flags))) {
        return false;
    }
    out[0] = number;
    out[1] = static_cast<uint8_t>(level & 0xFF);
    out[2] = static_cast<uint8_t>(level >> 8);
    out[3] = flags;
    return true;
}

bool YesNo(const std::vector<std::string>& t, const char* yes, const char* no, bool& value) {
    if (t.size() != 2) {
        return false;
    }
    if (t[1] == yes) {
        value = true;
        return true;
    }
    if (t[1] == no) {
        value = false;
        return true;
    }
    return false;
}

// What no single line can say wrong: settings that contradict each other. Empty when the
// monitor is fine.
std::string CheckMonitor(const SimMonitor& m) {
    if (m.numberedFeature && m.reportId == 0) {
        return "the monitor's numbered-feature yes needs a report-id other than 00";
    }
    return "";
}

// One setting line of a monitor; the message says what is wrong, empty when it is fine.
std::string ApplyLine(const std::vector<std::string>& t, SimMonitor& m) {
    const std::string& key = t[0];
    const size_t n = t.size();
    if (key == "vid" || key == "pid" || key == "version" || key == "usage-page" || key == "usage") {
        uint16_t* field = key == "vid"          ? &m.vid
                          : key == "pid"        ? &m.pid
                          : key == "version"    ? &m.version
                          : key == "usage-page" ? &m.usagePage
                                                : &m.usage;
        return n == 2 && Hex16(t[1], *field) ? "" : key + " takes four hex digits";
    }
    if (key == "report-id") {
        return n == 2 && Hex8(t[1], m.reportId) ? "" : "report-id takes two hex digits";
    }
    if (key == "output-report-length" || key == "feature-report-length") {
        uint16_t* field =
            key == "output-report-length" ? &m.outputReportLength : &m.featureReportLength;
        return n == 2 && Decimal16(t[1], *field) ? "" : key + " takes a decimal number up to 65535";
    }
    if (key == "output-value-caps") {
        return YesNo(t, "match", "other", m.outputValueCapsMatch)
                   ? ""
                   : "output-value-caps takes match or other";
    }
    if (key == "other-output-values") {
        return n == 2 && Decimal16(t[1], m.otherOutputValues) && m.otherOutputValues <= 8
                   ? ""
                   : "other-output-values takes a decimal number up to 8";
    }
    if (key == "mode") {
        return YesNo(t, "update", "normal", m.updateMode) ? "" : "mode takes normal or update";
    }
    if (key == "numbered-feature") {
        return YesNo(t, "yes", "no", m.numberedFeature) ? "" : "numbered-feature takes yes or no";
    }
    if (key == "second-collection") {
        return YesNo(t, "yes", "no", m.secondCollection) ? "" : "second-collection takes yes or no";
    }
    if (key == "components") {
        std::array<uint8_t, 16> table{};
        if (n != 5) {
            return "components takes four entries number:level[:flags]";
        }
        for (size_t k = 0; k < 4; ++k) {
            if (!Component(t[1 + k], table.data() + 4 * k)) {
                return "bad component entry '" + t[1 + k] + "' (number:level[:flags] in hex)";
            }
        }
        m.componentTable = table;
        return "";
    }
    if (key == "config") {
        uint8_t offset = 0;
        if (n < 3 || !Hex8(t[1], offset)) {
            return "config takes a hex offset and at least one hex byte";
        }
        if (offset + (n - 2) > m.config.size()) {
            return "config bytes reach past the 64 configuration bytes";
        }
        std::array<uint8_t, 64> config = m.config;
        for (size_t k = 2; k < n; ++k) {
            if (!Hex8(t[k], config[offset + k - 2])) {
                return "bad config byte '" + t[k] + "'";
            }
        }
        m.config = config;
        return "";
    }
    if (key == "fault") {
        ScriptedFault fault;
        uint32_t exchange = 0;
        if (n < 3 || !ParseNumber(t[1], 10, 0xFFFFFFFFu, exchange) || exchange == 0) {
            return "fault takes an exchange number from 1 and a kind";
        }
        fault.exchange = exchange;
        const std::string& kind = t[2];
        if (kind == "status" && n == 4 && Hex8(t[3], fault.status)) {
            fault.kind = FaultKind::Status;
        } else if (kind == "no-answer" && n == 3) {
            fault.kind = FaultKind::NoAnswer;
        } else if (kind == "disconnect" && n == 3) {
            fault.kind = FaultKind::Disconnect;
        } else if (kind == "feature-fails" && n == 3) {
            fault.kind = FaultKind::FeatureFails;
        } else if (kind == "write-pending" && n == 3) {
            fault.kind = FaultKind::WritePending;
        } else if (kind == "vanish" && n == 3) {
            fault.kind = FaultKind::Vanish;
        } else if (kind == "flush-fails" && n == 3) {
            fault.kind = FaultKind::FlushFails;
        } else if (kind == "stale" && n == 4 && Hex8(t[3], fault.status)) {
            fault.kind = FaultKind::Stale;
        } else if (kind == "late" && n == 4 && ParseNumber(t[3], 10, 0xFFFFFFFFu, fault.delayMs)) {
            fault.kind = FaultKind::Late;
        } else {
            return "fault kinds: no-answer, disconnect, feature-fails, write-pending, vanish, "
                   "flush-fails, status <hex byte>, stale <hex byte>, late <milliseconds>";
        }
        m.faults.push_back(fault);
        return "";
    }
    return "unknown setting '" + key + "'";
}

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", digits, value);
    return text;
}

void WriteError(const std::string& text) {
    ConsoleErrorPrintf("marvanecfgutil-sim: %s\n", text.c_str());
}

bool ReadFile(const std::filesystem::path& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) {
        return false;
    }
    text = content.str();
    return true;
}

}  // namespace

bool ParseState(const std::string& text, std::vector<SimMonitor>& monitors, std::string& error) {
    std::vector<SimMonitor> parsed;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    int monitorLine = 0;  // of the monitor being read
    // The monitor read last, once all its lines are in.
    auto finished = [&]() {
        const std::string problem = parsed.empty() ? "" : CheckMonitor(parsed.back());
        if (!problem.empty()) {
            error = "line " + std::to_string(monitorLine) + ": " + problem;
            return false;
        }
        return true;
    };
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#') {
            continue;
        }
        const std::vector<std::string> t = Tokens(trimmed);
        if (t.empty()) {
            continue;  // blanks of other kinds (vertical tab, form feed) only
        }
        std::string problem;
        if (t[0] == "monitor") {
            if (!finished()) {
                return false;
            }
            monitorLine = number;
            if (parsed.size() >= kMaxStateMonitors) {
                problem = "more than " + std::to_string(kMaxStateMonitors) + " monitors";
            } else {
                SimMonitor m;
                m.serial = Widen(SerialOf(trimmed.substr(7)));
                m.componentTable = DefaultComponentTable();
                m.config = DefaultMonitorConfig();
                parsed.push_back(m);
            }
        } else if (parsed.empty()) {
            problem = "'" + t[0] + "' before the first monitor line";
        } else {
            problem = ApplyLine(t, parsed.back());
        }
        if (!problem.empty()) {
            error = "line " + std::to_string(number) + ": " + problem;
            return false;
        }
    }
    if (!finished()) {
        return false;
    }
    monitors = std::move(parsed);
    return true;
}

std::string FormatState(const std::vector<SimMonitor>& monitors) {
    std::string text =
        "# marvanecfgutil-sim state: the simulated monitors, in discovery order. Rewritten\n"
        "# after a run that changed a monitor; see sim/README.md for every setting.\n";
    for (const SimMonitor& m : monitors) {
        text += "\nmonitor " + Narrow(m.serial) + "\n";
        text += "  vid " + Hex(m.vid, 4) + "\n";
        text += "  pid " + Hex(m.pid, 4) + "\n";
        text += "  version " + Hex(m.version, 4) + "\n";
        text += "  usage-page " + Hex(m.usagePage, 4) + "\n";
        text += "  usage " + Hex(m.usage, 4) + "\n";
        text += "  report-id " + Hex(m.reportId, 2) + "\n";
        text += std::string("  numbered-feature ") + (m.numberedFeature ? "yes" : "no") + "\n";
        text += "  output-report-length " + std::to_string(m.outputReportLength) + "\n";
        text += "  feature-report-length " + std::to_string(m.featureReportLength) + "\n";
        text += std::string("  output-value-caps ") + (m.outputValueCapsMatch ? "match" : "other") +
                "\n";
        text += "  other-output-values " + std::to_string(m.otherOutputValues) + "\n";
        text += std::string("  second-collection ") + (m.secondCollection ? "yes" : "no") + "\n";
        text += std::string("  mode ") + (m.updateMode ? "update" : "normal") + "\n";
        text += "  components";
        for (size_t k = 0; k < 4; ++k) {
            const uint8_t* c = m.componentTable.data() + 4 * k;
            text += " " + Hex(c[0], 2) + ":" + Hex(static_cast<uint32_t>(c[2] << 8 | c[1]), 4) +
                    ":" + Hex(c[3], 2);
        }
        text += "\n";
        for (size_t row = 0; row < m.config.size(); row += 16) {
            text += "  config " + Hex(static_cast<uint32_t>(row), 2);
            for (size_t k = 0; k < 16; ++k) {
                text += " " + Hex(m.config[row + k], 2);
            }
            text += "\n";
        }
        for (const ScriptedFault& f : m.faults) {
            text += "  fault " + std::to_string(f.exchange) + " ";
            switch (f.kind) {
                case FaultKind::NoAnswer:
                    text += "no-answer";
                    break;
                case FaultKind::Status:
                    text += "status " + Hex(f.status, 2);
                    break;
                case FaultKind::Disconnect:
                    text += "disconnect";
                    break;
                case FaultKind::FeatureFails:
                    text += "feature-fails";
                    break;
                case FaultKind::WritePending:
                    text += "write-pending";
                    break;
                case FaultKind::Vanish:
                    text += "vanish";
                    break;
                case FaultKind::FlushFails:
                    text += "flush-fails";
                    break;
                case FaultKind::Stale:
                    text += "stale " + Hex(f.status, 2);
                    break;
                case FaultKind::Late:
                    text += "late " + std::to_string(f.delayMs);
                    break;
            }
            text += "\n";
        }
    }
    return text;
}

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error) {
    const std::filesystem::path target(path);
    std::filesystem::path temporary = target;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            error = "cannot write " + temporary.string();
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, target, ec);
    if (ec) {
        error = "cannot replace " + path + ": " + ec.message();
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
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
    if (exists) {
        std::string text;
        if (!ReadFile(statePath, text)) {
            WriteError("cannot read " + statePath);
            return 1;
        }
        std::string error;
        if (!ParseState(text, monitors, error)) {
            WriteError(statePath + ": " + error);
            return 1;
        }
    } else {
        monitors = DefaultMonitors();
        std::string error;
        if (!WriteFileAtomically(statePath, FormatState(monitors), error)) {
            WriteError(error);
            return 1;
        }
    }

    SimBus& bus = SimBus::instance();
    bus.loadMonitors(monitors);
    int status = entry(argc, argv);

    // Comments of a hand-written file survive runs that change nothing. The run lock reloads
    // the state once it is ours, so the changes are those since that load: a run that waited
    // and then put back what it saw before waiting still changed the file's state.
    const std::string after = FormatState(bus.monitors);
    if (after != FormatState(bus.loadedFrom)) {
        std::string error;
        if (!WriteFileAtomically(statePath, after, error)) {
            WriteError(error + " (the monitors' new state is lost)");
            status = 1;
        }
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
