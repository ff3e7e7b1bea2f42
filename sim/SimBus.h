// The simulated machine behind marvanecfgutil-sim and the tests: HID interfaces (monitors'
// video controllers and unrelated devices), a device tree with USB hubs, a virtual clock
// and a transcript of every report exchanged. Process-wide, like the hardware it stands for.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// A fault for one exchange: the nth output report a monitor receives in this run (counting
// from 1, the firmware query of discovery included).
enum class FaultKind {
    NoAnswer,      // the report goes out, no input report comes back (the read times out)
    Status,        // the answer carries `status` instead of the model's own
    Disconnect,    // the write fails with error 1167, and every transfer after it
    FeatureFails,  // the answer is good but fetching the feature report fails
};

struct ScriptedFault {
    uint32_t exchange = 0;
    FaultKind kind = FaultKind::NoAnswer;
    uint8_t status = 0;
};

// A monitor's video controller. The identity and capability fields are settings of the
// model; the rest is its state.
struct SimMonitor {
    std::wstring serial;
    uint16_t vid = 0x0F66;
    uint16_t pid = 0x302C;
    uint16_t version = 0x0100;
    uint16_t usagePage = 0xFF45;
    uint16_t usage = 0xA000;
    uint8_t reportId = 0x01;
    uint16_t outputReportLength = 264;
    uint16_t featureReportLength = 128;  // below 23: no component table; below 71: no config
    bool outputValueCapsMatch = true;    // false: its output value capability has usage 0xA002
    std::array<uint8_t, 16> componentTable{};  // 4 x (number, gen, rev, flags)
    std::array<uint8_t, 64> config{};          // the controller's configuration bytes
    std::vector<ScriptedFault> faults;

    // State of the model.
    bool updateMode = false;
    std::vector<std::array<uint8_t, 3 + 16 + 1>> stagedRecords;  // see SimMonitor.cpp
    uint32_t exchanges = 0;
    bool disconnected = false;
    bool open = false;
};

// A HID interface on the bus. monitor >= 0 makes it the video controller of that monitor;
// other interfaces answer attribute and capability queries only.
struct SimInterface {
    std::wstring path;
    uint16_t vid = 0;
    uint16_t pid = 0;
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    int monitor = -1;
    int parentNode = -1;  // index into nodes
};

// A node of the device tree (for the hub placement rule and the USB hub walk).
struct SimNode {
    std::wstring instanceId;
    std::wstring description;
    int parent = -1;
    bool isHubInterface = false;  // listed by the USB hub walk, with interfacePath
    std::wstring interfacePath;
};

class SimBus {
public:
    static SimBus& instance();

    // An empty machine: no interfaces, clock at 0, empty transcript.
    void reset();
    // The default machine of marvanecfgutil-sim: two monitors (serials "41-A0001" and
    // "41-A0002", default configuration), a second collection of the first monitor, a
    // 0x03EB:0x212C interface, a keyboard, a root hub and an external hub.
    void loadDefault();
    // Adds a monitor with the default configuration and its interface below the external
    // hub; returns its index.
    int addMonitor(const std::wstring& serial);

    std::vector<SimMonitor> monitors;
    std::vector<SimInterface> interfaces;
    std::vector<SimNode> nodes;

    // Every report in both directions, one line each: "<serial> OUT <hex>",
    // "<serial> IN <hex>", "<serial> FEATURE <hex>", bytes as two lower-case hex digits
    // separated by spaces.
    std::vector<std::string> transcript;
    uint64_t clockMs = 0;
};

// The factory configuration bytes of a simulated monitor.
std::array<uint8_t, 64> DefaultMonitorConfig();

}  // namespace sim
