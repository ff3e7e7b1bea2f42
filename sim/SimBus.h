// The simulated machine behind marvanecfgutil-sim and the tests: HID interfaces (monitors'
// video controllers and unrelated devices), a device tree with USB hubs, a virtual clock
// and a transcript of every report exchanged. Process-wide, like the hardware it stands for.
//
// The video controller model (SimController.cpp), in short:
// - firmware query (selector FF 00 01) and configuration query (01 00 00): answered with
//   status 0x01; the following feature fetch returns the monitor's featureReportLength
//   bytes: byte 0 as the caller left it, bytes 1-2 the payload length, bytes 3-5 the
//   selector, from byte 7 the component table (16 bytes) or the configuration (64 bytes),
//   cut off at the report's end;
// - reset mode 1 flags 0 enters update mode, mode 0 flags 0x40 leaves it; both answer 0x01
//   and drop any records not committed; update mode lasts across runs until a reset leaves
//   it, and in it the configuration query is refused (the firmware query still answered);
// - record writes are staged (status 0x00) and the commit (status 0x00) applies the staged
//   records whose address is 10 00 <offset> to the 64 configuration bytes; other addresses
//   are accepted and ignored;
// - records and commits outside update mode, records reaching past the 64 bytes, unknown
//   or malformed reports (bytes beyond the report's fields must be zero) are refused with
//   status 0x80, which fails both status rules, and change nothing.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/ErrorCodes.h"

namespace sim {

// A fault for one exchange: the nth output report a monitor receives in this run (counting
// from 1, the firmware query of discovery included). Every write that reaches the monitor
// counts, refused or not. Faults on the same exchange combine (a late refusal: Status and
// Late); Stale and FlushFails act before the exchange.
enum class FaultKind {
    NoAnswer,      // the report goes out and is acted on, its answer is lost (read times out)
    Status,        // the answer carries `status` instead of the model's own; the controller
                   // acts on the report only when both statuses pass the report's rule
    Disconnect,    // the write fails with error 1167, and every transfer after it
    FeatureFails,  // the answer is good but fetching the feature report fails (error 31)
    WritePending,  // the write never completes: it reaches nothing and the host's wait for it
                   // runs to its limit
    Vanish,        // the report is acted on, then the device leaves the bus while the host
                   // waits for the answer: the pending read fails with error 1167
    Late,          // the report is acted on; its answer arrives `delayMs` later on the clock
    Stale,         // an input report with `status`, sent unasked, waits in the host's queue
                   // before the exchange (gone if the host empties the queue first)
    FlushFails,    // the first flush of the input queue before the exchange fails (error 31)
};

struct ScriptedFault {
    uint32_t exchange = 0;
    FaultKind kind = FaultKind::NoAnswer;
    uint8_t status = 0;    // Status, Stale
    uint32_t delayMs = 0;  // Late
};

// Status bytes the model answers with.
inline constexpr uint8_t kStatusQueryOk = 0x01;  // queries and resets
inline constexpr uint8_t kStatusWriteOk = 0x00;  // records and commits
inline constexpr uint8_t kStatusRefused = 0x80;  // fails both rules

// One record write staged in update mode, waiting for the commit.
struct StagedRecord {
    std::array<uint8_t, 3> address{};
    uint8_t length = 0;
    std::array<uint8_t, 16> data{};
};

enum class PendingFeature { None, FirmwareLevels, Configuration };

// An input report on its way to the host: readable from `arrivesAtMs` on the virtual clock.
struct InputReport {
    std::array<uint8_t, 9> bytes{};
    uint64_t arrivesAtMs = 0;
};

inline constexpr uint64_t kNever = UINT64_MAX;

// A monitor's video controller. The identity and capability fields are settings of the
// model; the rest is its state.
struct SimMonitor {
    std::wstring serial;
    uint16_t vid = 0x0F66;
    uint16_t pid = 0x302C;
    uint16_t version = 0x0100;
    uint16_t usagePage = 0xFF45;
    uint16_t usage = 0xA000;
    // The report id of the input and output reports and of their value capabilities (the
    // product's command report id). 0: the controller numbers no report, as the real one.
    uint8_t reportId = 0x00;
    // The feature report carries reportId too (a controller numbering every report, as a
    // descriptor with report ids must): the product fetches feature reports with id 0, so
    // every fetch is refused with error 87 before it reaches the controller. false: the
    // feature report has no id; with a nonzero reportId that is the layout state files of
    // the earlier simulator describe ("report-id 01"), kept so they run as before.
    bool numberedFeature = false;
    uint16_t outputReportLength = 264;
    uint16_t featureReportLength = 128;  // below 23: no component table; below 71: no config
    bool outputValueCapsMatch = true;    // false: its output value capability has usage 0xA002
    uint16_t otherOutputValues = 0;      // output values of another usage declared before it
    bool secondCollection = false;       // set by SimBus::addSecondCollection
    std::array<uint8_t, 16> componentTable{};  // 4 x (number, gen, rev, flags)
    std::array<uint8_t, 64> config{};          // the controller's configuration bytes
    std::vector<ScriptedFault> faults;

    // Kept across runs, as the hardware keeps it until a reset leaves update mode (the
    // state file's `mode` line).
    bool updateMode = false;
    // State of one run, as after the host opened the device.
    std::vector<StagedRecord> stagedRecords;
    uint32_t exchanges = 0;  // output reports received in this run
    uint32_t commits = 0;    // commits applied in this run
    bool disconnected = false;
    bool open = false;                   // a channel holds it open
    std::deque<InputReport> inputQueue;  // in the order the reports arrive
    PendingFeature pendingFeature = PendingFeature::None;
    bool featureFails = false;
    // Run state of the scripted faults.
    uint32_t staleQueuedBefore = 0;  // the last exchange whose stale report was queued
    uint32_t flushFailedBefore = 0;  // the last exchange whose flush failed
    bool vanishOnRead = false;       // leaves the bus once the host waits for an answer
};

// The report id of a monitor's feature report: the only id a feature fetch may ask for.
inline uint8_t FeatureReportId(const SimMonitor& m) {
    return m.numberedFeature ? m.reportId : uint8_t{0};
}

// A HID interface on the bus. monitor >= 0 makes it the video controller of that monitor
// (identity and usage then come from the monitor); other interfaces answer attribute and
// capability queries only.
struct SimInterface {
    std::wstring path;
    uint16_t vid = 0;
    uint16_t pid = 0;
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    int monitor = -1;
    int parentNode = -1;  // index into nodes: the device node the interface belongs to
    // Reads on the probe handle that fail (as on a device going away, or a driver that
    // answers nothing): the walk then passes the interface over.
    bool preparsedDataFails = false;
    bool attributesFail = false;
    bool capsFail = false;
};

// A node of the device tree (for the hub placement rule and the USB hub walk).
struct SimNode {
    std::wstring instanceId;
    std::wstring description;
    int parent = -1;
    bool isHubInterface = false;  // listed by the USB hub walk, with interfacePath
    std::wstring interfacePath;
    uint8_t ports = 4;  // a hub's port count; its USB device children take ports 1, 2, ...
    // Registry properties: the driver key (CM_DRP_DRIVER) and the service (CM_DRP_SERVICE)
    // of the node; empty when the node has none.
    std::wstring driverKey;
    std::wstring service;
    // A USB device on a hub port, as the hub answers for that port. Its driver key request
    // answers driverKey; a device without one is not found in the tree.
    uint8_t connectionStatus = 1;  // 1: DeviceConnected
    uint16_t bcdDevice = 0x0100;
    bool serialRequestFails = false;
    bool driverKeyRequestFails = false;
};

// Preparsed data handed out by HidD_GetPreparsedData; owned by the bus until freed.
struct SimPreparsed {
    int interfaceIndex = -1;
};

class SimBus {
public:
    static SimBus& instance();

    // An empty machine: no interfaces, clock at 0, empty transcript. The binding of the HID
    // library stays as it is (see UnbindHidLibrary).
    void reset();
    // The default machine of marvanecfgutil-sim: two monitors (serials "41-A0001" and
    // "41-A0002", default configuration), a second collection of the first monitor, a
    // 0x03EB:0x212C interface, a keyboard, a root hub and an external hub.
    void loadDefault();
    // The machine of marvanecfgutil-sim for the given monitors: the keyboard and the
    // 0x03EB:0x212C interface, then each monitor (with its second collection when its
    // secondCollection is set). Run state of the monitors starts
    // afresh; their settings and mode carry over.
    void loadMonitors(const std::vector<SimMonitor>& list);
    // Adds a monitor with the default configuration and its interface below the external
    // hub (made, with a root hub, when missing); returns its index.
    int addMonitor(const std::wstring& serial);
    int addMonitor(const SimMonitor& monitor);
    // A second top-level collection of a monitor (usage page 0xFF45, usage 0xA100) that
    // answers nothing.
    void addSecondCollection(int monitor);
    void addKeyboard();         // 0x046D:0xC31C, usage page 0x01 usage 0x06, below the root hub
    void addTouchController();  // 0x03EB:0x212C, usage page 0xFF00 usage 0x0001, external hub

    std::vector<SimMonitor> monitors;
    // The list of the last loadMonitors: what a run's changes are measured against.
    std::vector<SimMonitor> loadedFrom;
    std::vector<SimInterface> interfaces;
    std::vector<SimNode> nodes;

    // Every report in both directions, one line each: "<serial> OUT <hex>",
    // "<serial> IN <hex>", "<serial> FEATURE <hex>", bytes as two lower-case hex digits
    // separated by spaces. OUT lines are the reports the monitor received (a write that
    // fails records nothing), IN lines the answers the host read, FEATURE lines the feature
    // reports fetched.
    std::vector<std::string> transcript;
    uint64_t clockMs = 0;

    // The thread's last-error value of the simulated platform.
    uint32_t lastError = 0;
    // Open simulated file handles (probe handles and channel handles), for leak checks.
    int openHandles = 0;
    std::vector<std::unique_ptr<SimPreparsed>> preparsed;
    // False makes an unbound HidLib::initialise fail (as when hid.dll lacks an export).
    bool hidLibraryAvailable = true;
    // Nonzero: the walk fails with this error, the interface set not obtained (...SetError)
    // or the enumeration stopping after the last interface (...WalkError).
    uint32_t hidSetError = 0;
    uint32_t hidWalkError = 0;
    uint32_t usbSetError = 0;
    uint32_t usbWalkError = 0;

    // Lookups.
    int findInterface(const std::wstring& path) const;  // -1 when no interface has the path
    int monitorInterface(int monitor) const;            // -1 when the monitor has none
    int interfaceIndexOf(const void* handle) const;     // -1 unless &interfaces[i]
    int nodeDepth(int node) const;                      // 0 for a node without parent
    // The device tree as the configuration manager walks it: children and siblings in
    // node order; -1 when there is none.
    int firstChild(int node) const;
    int nextSibling(int node) const;
    // Pre-order walk of the whole tree for the first node whose driver key is name.
    int findNodeByDriverKey(const std::wstring& name) const;
    // The node on a hub's port (from 1), -1 when nothing is attached to it.
    int portDevice(int hub, int port) const;
    // The hub above a device node, for the hub placement rule: the nearest ancestor whose
    // description contains "Hub", its ids parsed from its instance id. Starts at the
    // node's parent, like the device tree walk of the Windows build, and gives up at depth
    // 1 or when the ids do not parse (a root hub).
    bool findHubAncestor(int node, uint16_t& vid, uint16_t& pid) const;

    // The controller model. Each returns 0 or the Windows error code of the transfer.
    // kErrorIoPending (997) when the write stays pending: it never completes and never
    // reaches the controller.
    uint32_t writeReport(int interfaceIndex, const uint8_t* data, uint32_t length);
    // kErrorIoPending (997) when no input report has arrived yet.
    uint32_t readReport(int interfaceIndex, uint8_t* buffer9);
    // When a read left pending now completes on the virtual clock (the next answer arrives,
    // or the device has left the bus and the read fails); kNever when nothing will come.
    uint64_t readCompletesAt(int interfaceIndex) const;
    // Empties the input queue of the reports that have arrived.
    uint32_t flushQueue(int interfaceIndex);
    uint32_t getFeature(int interfaceIndex, uint8_t* buffer, uint32_t length);

private:
    int addNode(const std::wstring& instanceId, const std::wstring& description, int parent,
                const std::wstring& service);
    int addHub(const std::wstring& instanceId, const std::wstring& description, int parent);
    // Adds the interface's node below parent and the interface with identity's ids.
    void addHidInterface(const std::wstring& instanceId, const std::wstring& description,
                         int parent, const SimInterface& identity);
    int ensureRootHub();
    int ensureExternalHub();
    void record(const SimMonitor& monitor, const char* kind, const uint8_t* data, size_t n);
    uint32_t nextId = 0;         // makes instance ids unique
    uint32_t nextDriverKey = 0;  // and driver keys
};

// The factory configuration bytes of a simulated monitor: every setting at its default,
// the constant bytes as the configuration records write them, the rest 0.
std::array<uint8_t, 64> DefaultMonitorConfig();
// Component table of a monitor added without one: MCU 0105, HW_CFG 0002, SCALAR 0210,
// CAPSENSE 0107.
std::array<uint8_t, 16> DefaultComponentTable();
// The two monitors of the default machine (the first with its second collection).
std::vector<SimMonitor> DefaultMonitors();

// Forgets the binding of HidLib, as a new process would start; the next
// HidLib::initialise binds again (or fails when hidLibraryAvailable is false).
void UnbindHidLibrary();

// Hex text of bytes as the transcript writes them.
std::string HexBytes(const uint8_t* data, size_t n);

}  // namespace sim
