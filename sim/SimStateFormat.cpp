// Writing the simulator's state file: every setting of every monitor, in the form
// ParseState reads back the same.
#include <cstdio>

#include "platform/Text.h"
#include "sim/SimState.h"

namespace sim {
namespace {

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", digits, value);
    return text;
}

}  // namespace

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

}  // namespace sim
