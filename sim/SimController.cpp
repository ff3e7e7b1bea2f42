// The model of a monitor's video controller: how it answers the reports of the host.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "hid/HidTypes.h"
#include "platform/Text.h"
#include "sim/SimBus.h"

namespace sim {

namespace {

enum class ReportKind { Query, Reset, Record, Commit, Unknown };

struct Decoded {
    ReportKind kind = ReportKind::Unknown;
    std::array<uint8_t, 3> selector{};  // query selector or record address
    uint8_t mode = 0;
    uint8_t flags = 0;
    uint8_t length = 0;  // record data length
    const uint8_t* data = nullptr;
};

// Reads the fields of an output report. Anything that is not one of the four reports the
// controller knows, laid out exactly, is Unknown: a host that sends stray bytes finds out.
Decoded Decode(const uint8_t* report, uint32_t length) {
    Decoded d;
    if (length < 5) {
        return d;
    }
    const uint32_t size = report[1] | (report[2] << 8);
    uint32_t end = 0;
    if (size == 4) {
        d.kind = ReportKind::Reset;
        d.mode = report[3];
        d.flags = report[4];
        end = 5;
    } else if (length >= 9 && size == 6 && report[3] == 0x20 && report[4] == 0 &&
               report[5] == 0xFF) {
        d.kind = ReportKind::Query;
        std::copy(report + 6, report + 9, d.selector.begin());
        end = 9;
    } else if (length >= 12 && size == 5 && report[3] == 0x02 && report[4] == 0 && report[5] == 0 &&
               report[6] == 0 && report[7] == 0 && report[8] == 0) {
        d.kind = ReportKind::Commit;  // bytes 9 to 11: the commit bytes, taken as they come
        end = 12;
    } else if (size >= 6 && size <= 5 + 16 && report[3] == 0x02 && report[4] == 0 &&
               report[5] == size - 5 && length >= 9 + size - 5) {
        d.kind = ReportKind::Record;
        d.length = report[5];
        std::copy(report + 6, report + 9, d.selector.begin());
        d.data = report + 9;
        end = 9 + d.length;
    } else {
        return d;
    }
    for (uint32_t i = end; i < length; ++i) {
        if (report[i] != 0) {
            d.kind = ReportKind::Unknown;
            break;
        }
    }
    return d;
}

bool Passes(ReportKind kind, uint8_t status) {
    switch (kind) {
        case ReportKind::Query:
        case ReportKind::Reset:
            return (status & 0x01) != 0;
        case ReportKind::Record:
        case ReportKind::Commit:
            return (status & 0xC0) == 0;
        case ReportKind::Unknown:
            break;
    }
    return false;
}

// The controller's own answer, without acting on the report.
uint8_t Evaluate(const SimMonitor& m, const Decoded& d) {
    switch (d.kind) {
        case ReportKind::Query:
            // The component levels are fixed and answered in either mode, so a monitor left
            // in update mode is still found. Its configuration is being rewritten there and
            // is not reported until a reset leaves update mode.
            if (d.selector == std::array<uint8_t, 3>{0xFF, 0x00, 0x01}) {
                return kStatusQueryOk;
            }
            if (d.selector == std::array<uint8_t, 3>{0x01, 0x00, 0x00}) {
                return m.updateMode ? kStatusRefused : kStatusQueryOk;
            }
            return kStatusRefused;
        case ReportKind::Reset:
            if ((d.mode == 1 && d.flags == 0) || (d.mode == 0 && d.flags == 0x40)) {
                return kStatusQueryOk;
            }
            return kStatusRefused;
        case ReportKind::Record:
            if (!m.updateMode) {
                return kStatusRefused;
            }
            if (d.selector[0] == 0x10 && d.selector[1] == 0x00 &&
                static_cast<size_t>(d.selector[2]) + d.length > m.config.size()) {
                return kStatusRefused;
            }
            return kStatusWriteOk;
        case ReportKind::Commit:
            return m.updateMode ? kStatusWriteOk : kStatusRefused;
        case ReportKind::Unknown:
            break;
    }
    return kStatusRefused;
}

void Act(SimMonitor& m, const Decoded& d, bool featureFails) {
    switch (d.kind) {
        case ReportKind::Query:
            m.pendingFeature = d.selector[0] == 0xFF ? PendingFeature::FirmwareLevels
                                                     : PendingFeature::Configuration;
            m.featureFails = featureFails;
            break;
        case ReportKind::Reset:
            // Entering update mode starts a fresh set of records; the reset drops any that
            // were never committed.
            m.updateMode = d.mode == 1;
            m.stagedRecords.clear();
            break;
        case ReportKind::Record: {
            StagedRecord r;
            r.address = d.selector;
            r.length = d.length;
            std::copy(d.data, d.data + d.length, r.data.begin());
            m.stagedRecords.push_back(r);
            break;
        }
        case ReportKind::Commit:
            for (const StagedRecord& r : m.stagedRecords) {
                if (r.address[0] == 0x10 && r.address[1] == 0x00) {
                    std::copy(r.data.begin(), r.data.begin() + r.length,
                              m.config.begin() + r.address[2]);
                }
            }
            m.stagedRecords.clear();
            ++m.commits;
            break;
        case ReportKind::Unknown:
            break;
    }
}

// The read handle keeps 128 reports, in the order they arrive; older ones are lost, as in
// the HID driver.
void Queue(SimMonitor& m, uint8_t reportId, uint8_t status, uint64_t arrivesAtMs) {
    InputReport report;
    report.bytes[0] = reportId;
    report.bytes[1] = status;
    report.arrivesAtMs = arrivesAtMs;
    auto at = m.inputQueue.end();
    while (at != m.inputQueue.begin() && std::prev(at)->arrivesAtMs > arrivesAtMs) {
        --at;
    }
    m.inputQueue.insert(at, report);
    if (m.inputQueue.size() > 128) {
        m.inputQueue.pop_front();
    }
}

// The scripted faults of the nth exchange, combined.
struct ExchangeFaults {
    bool disconnect = false;
    bool writePending = false;
    bool noAnswer = false;
    bool vanish = false;
    bool featureFails = false;
    bool status = false;
    uint8_t statusByte = 0;
    uint64_t delayMs = 0;
};

ExchangeFaults FaultsOf(const SimMonitor& m, uint32_t exchange) {
    ExchangeFaults f;
    for (const ScriptedFault& fault : m.faults) {
        if (fault.exchange != exchange) {
            continue;
        }
        switch (fault.kind) {
            case FaultKind::NoAnswer:
                f.noAnswer = true;
                break;
            case FaultKind::Status:
                f.status = true;
                f.statusByte = fault.status;
                break;
            case FaultKind::Disconnect:
                f.disconnect = true;
                break;
            case FaultKind::FeatureFails:
                f.featureFails = true;
                break;
            case FaultKind::WritePending:
                f.writePending = true;
                break;
            case FaultKind::Vanish:
                f.vanish = true;
                break;
            case FaultKind::Late:
                f.delayMs = fault.delayMs;
                break;
            case FaultKind::Stale:
            case FaultKind::FlushFails:
                break;  // before the exchange
        }
    }
    return f;
}

// A stale report scripted before the next exchange is in the queue from the first moment
// the host touches the device after the previous one.
void QueueStale(SimMonitor& m, uint64_t nowMs) {
    const uint32_t next = m.exchanges + 1;
    if (m.staleQueuedBefore >= next) {
        return;
    }
    m.staleQueuedBefore = next;
    for (const ScriptedFault& fault : m.faults) {
        if (fault.exchange == next && fault.kind == FaultKind::Stale) {
            Queue(m, m.reportId, fault.status, nowMs);
        }
    }
}

// Off the bus: when it comes back (the next run) it starts as after power-up.
void Disconnect(SimMonitor& m) {
    m.disconnected = true;
    m.vanishOnRead = false;
    m.updateMode = false;
    m.stagedRecords.clear();
    m.inputQueue.clear();
    m.pendingFeature = PendingFeature::None;
}

}  // namespace

void SimBus::record(const SimMonitor& monitor, const char* kind, const uint8_t* data, size_t n) {
    transcript.push_back(Narrow(monitor.serial) + " " + kind + " " + HexBytes(data, n));
}

uint32_t SimBus::writeReport(int interfaceIndex, const uint8_t* data, uint32_t length) {
    if (interfaceIndex < 0 || static_cast<size_t>(interfaceIndex) >= interfaces.size()) {
        return kErrorInvalidHandle;
    }
    const int monitorIndex = interfaces[static_cast<size_t>(interfaceIndex)].monitor;
    if (monitorIndex < 0) {
        return kErrorInvalidParameter;  // a collection without output reports
    }
    SimMonitor& m = monitors[static_cast<size_t>(monitorIndex)];
    if (m.disconnected) {
        return kErrorDeviceNotConnected;
    }
    QueueStale(m, clockMs);
    ++m.exchanges;
    const ExchangeFaults fault = FaultsOf(m, m.exchanges);
    if (fault.disconnect) {
        Disconnect(m);
        return kErrorDeviceNotConnected;
    }
    if (fault.writePending) {
        return kErrorIoPending;
    }
    // The HID class driver takes only whole reports of the declared length, for a report
    // id the device declares.
    if (data == nullptr || length != m.outputReportLength || length == 0 || data[0] != m.reportId) {
        return kErrorInvalidParameter;
    }
    record(m, "OUT", data, length);

    // Every report replaces the answer a feature fetch would get.
    m.pendingFeature = PendingFeature::None;
    m.featureFails = false;
    const Decoded decoded = Decode(data, length);
    const uint8_t own = Evaluate(m, decoded);
    const uint8_t status = fault.status ? fault.statusByte : own;
    if (Passes(decoded.kind, own) && Passes(decoded.kind, status)) {
        Act(m, decoded, fault.featureFails);
    }
    if (fault.vanish) {
        m.vanishOnRead = true;
    } else if (!fault.noAnswer) {
        Queue(m, m.reportId, status, clockMs + fault.delayMs);
    }
    return 0;
}

uint32_t SimBus::readReport(int interfaceIndex, uint8_t* buffer9) {
    if (interfaceIndex < 0 || static_cast<size_t>(interfaceIndex) >= interfaces.size()) {
        return kErrorInvalidHandle;
    }
    const int monitorIndex = interfaces[static_cast<size_t>(interfaceIndex)].monitor;
    if (monitorIndex < 0) {
        return kErrorIoPending;  // nothing ever arrives
    }
    SimMonitor& m = monitors[static_cast<size_t>(monitorIndex)];
    if (m.disconnected) {
        return kErrorDeviceNotConnected;
    }
    QueueStale(m, clockMs);
    if (m.inputQueue.empty() || m.inputQueue.front().arrivesAtMs > clockMs) {
        if (m.vanishOnRead) {
            Disconnect(m);  // the read is left pending; it fails when the host looks again
        }
        return kErrorIoPending;
    }
    const std::array<uint8_t, 9> answer = m.inputQueue.front().bytes;
    m.inputQueue.pop_front();
    std::memcpy(buffer9, answer.data(), answer.size());
    record(m, "IN", answer.data(), answer.size());
    return 0;
}

uint64_t SimBus::readCompletesAt(int interfaceIndex) const {
    if (interfaceIndex < 0 || static_cast<size_t>(interfaceIndex) >= interfaces.size()) {
        return kNever;
    }
    const int monitorIndex = interfaces[static_cast<size_t>(interfaceIndex)].monitor;
    if (monitorIndex < 0) {
        return kNever;
    }
    const SimMonitor& m = monitors[static_cast<size_t>(monitorIndex)];
    if (m.disconnected) {
        return clockMs;
    }
    return m.inputQueue.empty() ? kNever : std::max(clockMs, m.inputQueue.front().arrivesAtMs);
}

uint32_t SimBus::flushQueue(int interfaceIndex) {
    if (interfaceIndex < 0 || static_cast<size_t>(interfaceIndex) >= interfaces.size()) {
        return kErrorInvalidHandle;
    }
    const int monitorIndex = interfaces[static_cast<size_t>(interfaceIndex)].monitor;
    if (monitorIndex < 0) {
        return 0;
    }
    SimMonitor& m = monitors[static_cast<size_t>(monitorIndex)];
    if (m.disconnected) {
        return kErrorDeviceNotConnected;
    }
    QueueStale(m, clockMs);
    const uint32_t next = m.exchanges + 1;
    if (m.flushFailedBefore < next) {
        for (const ScriptedFault& fault : m.faults) {
            if (fault.exchange == next && fault.kind == FaultKind::FlushFails) {
                m.flushFailedBefore = next;
                return kErrorGenFailure;
            }
        }
    }
    // Reports still on their way are not in the queue yet.
    while (!m.inputQueue.empty() && m.inputQueue.front().arrivesAtMs <= clockMs) {
        m.inputQueue.pop_front();
    }
    return 0;
}

uint32_t SimBus::getFeature(int interfaceIndex, uint8_t* buffer, uint32_t length) {
    if (interfaceIndex < 0 || static_cast<size_t>(interfaceIndex) >= interfaces.size()) {
        return kErrorInvalidHandle;
    }
    const int monitorIndex = interfaces[static_cast<size_t>(interfaceIndex)].monitor;
    if (monitorIndex < 0) {
        return kErrorGenFailure;
    }
    SimMonitor& m = monitors[static_cast<size_t>(monitorIndex)];
    if (m.disconnected) {
        return kErrorDeviceNotConnected;
    }
    // The HID class driver asks the device only for a feature report the collection
    // declares: another id is refused before anything is sent.
    if (buffer != nullptr && length != 0 && buffer[0] != FeatureReportId(m)) {
        return kErrorInvalidParameter;
    }
    if (m.pendingFeature == PendingFeature::None || m.featureFails) {
        return kErrorGenFailure;
    }
    if (length < m.featureReportLength || (buffer == nullptr && m.featureReportLength != 0)) {
        return kErrorInvalidParameter;
    }
    std::vector<uint8_t> report(m.featureReportLength, 0);
    if (!report.empty()) {
        report[0] = buffer[0];  // the report id the caller asked for
    }
    const bool levels = m.pendingFeature == PendingFeature::FirmwareLevels;
    std::vector<uint8_t> payload;
    if (levels) {
        payload.assign(m.componentTable.begin(), m.componentTable.end());
    } else {
        payload.assign(m.config.begin(), m.config.end());
    }
    const std::array<uint8_t, 6> head{static_cast<uint8_t>(payload.size()),       0x00,
                                      static_cast<uint8_t>(levels ? 0xFF : 0x01), 0x00,
                                      static_cast<uint8_t>(levels ? 0x01 : 0x00), 0x00};
    for (size_t i = 0; i < head.size() && 1 + i < report.size(); ++i) {
        report[1 + i] = head[i];
    }
    for (size_t i = 0; i < payload.size() && 7 + i < report.size(); ++i) {
        report[7 + i] = payload[i];
    }
    if (!report.empty()) {
        std::memcpy(buffer, report.data(), report.size());
    }
    record(m, "FEATURE", report.data(), report.size());
    return 0;
}

}  // namespace sim
