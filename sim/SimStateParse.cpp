// Reading the simulator's state file: one monitor line and its setting lines per monitor
// (sim/README.md), checked completely before anything is taken from it.
#include <charconv>
#include <sstream>

#include "platform/Text.h"
#include "sim/SimState.h"

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

}  // namespace sim
