// The simulated machine: its layout (device tree, interfaces, monitors) and lookups.
#include "sim/SimBus.h"

#include <cstdio>

#include "discovery/DeviceIdParsing.h"

namespace sim {

namespace {

const wchar_t kHidInterfaceClass[] = L"{4d1e55b2-f16f-11cf-88cb-001111000030}";
const wchar_t kHubInterfaceClass[] = L"{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
// Setup classes, the first part of a driver key.
const wchar_t kUsbClass[] = L"{36fc9e60-c465-11cf-8056-444553540000}";
const wchar_t kHidClass[] = L"{745a17a0-74d3-11d0-b6fe-00a0c90f57da}";

std::wstring HexWord(uint32_t value, int digits, bool upper) {
    wchar_t text[16];
    std::swprintf(text, 16, upper ? L"%0*X" : L"%0*x", digits, value);
    return text;
}

// "vid_0f66&pid_302c" (lower case, as in interface paths) or "VID_0F66&PID_302C".
std::wstring VidPid(uint16_t vid, uint16_t pid, bool upper) {
    return std::wstring(upper ? L"VID_" : L"vid_") + HexWord(vid, 4, upper) +
           (upper ? L"&PID_" : L"&pid_") + HexWord(pid, 4, upper);
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    return text;
}

// Windows turns "HID\X\Y" into "\\?\hid#x#y#{class}".
std::wstring InterfacePath(const std::wstring& instanceId, const wchar_t* interfaceClass) {
    std::wstring path = L"\\\\?\\" + Lower(instanceId);
    for (size_t i = 4; i < path.size(); ++i) {
        if (path[i] == L'\\') {
            path[i] = L'#';
        }
    }
    return path + L"#" + interfaceClass;
}

}  // namespace

SimBus& SimBus::instance() {
    static SimBus bus;
    return bus;
}

void SimBus::reset() {
    monitors.clear();
    interfaces.clear();
    nodes.clear();
    transcript.clear();
    clockMs = 0;
    lastError = 0;
    openHandles = 0;
    preparsed.clear();
    hidLibraryAvailable = true;
    hidSetError = 0;
    hidWalkError = 0;
    usbSetError = 0;
    usbWalkError = 0;
    nextId = 0;
    nextDriverKey = 0;
}

void SimBus::loadDefault() {
    loadMonitors(DefaultMonitors());
}

void SimBus::loadMonitors(const std::vector<SimMonitor>& list) {
    loadedFrom = list;
    reset();
    addKeyboard();
    addTouchController();
    for (const SimMonitor& monitor : list) {
        addMonitor(monitor);
    }
}

int SimBus::addNode(const std::wstring& instanceId, const std::wstring& description, int parent,
                    const std::wstring& service) {
    SimNode node;
    node.instanceId = instanceId;
    node.description = description;
    node.parent = parent;
    node.service = service;
    // Every installed device has a driver key: its setup class and an instance number.
    const bool hid = instanceId.rfind(L"HID\\", 0) == 0;
    node.driverKey =
        std::wstring(hid ? kHidClass : kUsbClass) + L"\\" + HexWord(nextDriverKey++, 4, false);
    nodes.push_back(node);
    return static_cast<int>(nodes.size()) - 1;
}

int SimBus::addHub(const std::wstring& instanceId, const std::wstring& description, int parent) {
    const int hub = addNode(instanceId, description, parent, L"USBHUB3");
    nodes[static_cast<size_t>(hub)].isHubInterface = true;
    nodes[static_cast<size_t>(hub)].interfacePath = InterfacePath(instanceId, kHubInterfaceClass);
    return hub;
}

void SimBus::addHidInterface(const std::wstring& instanceId, const std::wstring& description,
                             int parent, const SimInterface& identity) {
    SimInterface added = identity;
    added.parentNode = addNode(instanceId, description, parent, L"");
    added.path = InterfacePath(instanceId, kHidInterfaceClass);
    interfaces.push_back(added);
}

int SimBus::ensureRootHub() {
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (nodes[i].instanceId.rfind(L"USB\\ROOT_HUB30\\", 0) == 0) {
            return static_cast<int>(i);
        }
    }
    const int controller =
        addNode(L"PCI\\VEN_8086&DEV_A36D&SUBSYS_08621028&REV_10\\3&11583659&0&A0",
                L"USB xHCI Compliant Host Controller", -1, L"USBXHCI");
    return addHub(L"USB\\ROOT_HUB30\\4&2D5C1D8&0&0", L"USB Root Hub (USB 3.0)", controller);
}

int SimBus::ensureExternalHub() {
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (nodes[i].instanceId.rfind(L"USB\\VID_04B3&PID_4675\\", 0) == 0) {
            return static_cast<int>(i);
        }
    }
    const int root = ensureRootHub();
    return addHub(L"USB\\VID_04B3&PID_4675\\5&3A2B1C0D&0&1", L"Generic USB Hub", root);
}

void SimBus::addKeyboard() {
    const int root = ensureRootHub();
    const std::wstring suffix = HexWord(0x3C7A1000 + nextId++, 8, true);
    const int usb = addNode(L"USB\\VID_046D&PID_C31C\\5&" + suffix + L"&0&3",
                            L"USB Composite Device", root, L"usbccgp");
    SimInterface keyboard;
    keyboard.vid = 0x046D;
    keyboard.pid = 0xC31C;
    keyboard.usagePage = 0x01;
    keyboard.usage = 0x06;
    addHidInterface(L"HID\\VID_046D&PID_C31C&MI_00\\7&" + suffix + L"&0&0000",
                    L"HID Keyboard Device", usb, keyboard);
}

void SimBus::addTouchController() {
    const int hub = ensureExternalHub();
    const std::wstring suffix = HexWord(0x1E4B2000 + nextId++, 8, true);
    // A composite device: its HID function, and a second function bound to WinUSB through
    // which the touch controller's own tools reach it.
    const int usb = addNode(L"USB\\VID_03EB&PID_212C\\6&" + suffix + L"&0&2",
                            L"USB Composite Device", hub, L"usbccgp");
    const int input = addNode(L"USB\\VID_03EB&PID_212C&MI_00\\7&" + suffix + L"&0&0000",
                              L"USB Input Device", usb, L"HidUsb");
    addNode(L"USB\\VID_03EB&PID_212C&MI_01\\7&" + suffix + L"&0&0001", L"WinUsb Device", usb,
            L"WinUSB");
    SimInterface touch;
    touch.vid = 0x03EB;
    touch.pid = 0x212C;
    touch.usagePage = 0xFF00;
    touch.usage = 0x0001;
    addHidInterface(L"HID\\VID_03EB&PID_212C&MI_00\\8&" + suffix + L"&0&0000",
                    L"HID-compliant vendor-defined device", input, touch);
}

int SimBus::addMonitor(const std::wstring& serial) {
    SimMonitor monitor;
    monitor.serial = serial;
    monitor.componentTable = DefaultComponentTable();
    monitor.config = DefaultMonitorConfig();
    return addMonitor(monitor);
}

int SimBus::addMonitor(const SimMonitor& settings) {
    SimMonitor monitor = settings;
    // What a run leaves behind on the hardware: the settings and the mode. Records staged
    // and never committed are not kept (every update begins with the reset into update
    // mode, which drops them), nor anything that belongs to one run's exchanges.
    monitor.stagedRecords.clear();
    monitor.exchanges = 0;
    monitor.commits = 0;
    monitor.disconnected = false;
    monitor.open = false;
    monitor.inputQueue.clear();
    monitor.pendingFeature = PendingFeature::None;
    monitor.featureFails = false;
    monitor.staleQueuedBefore = 0;
    monitor.flushFailedBefore = 0;
    monitor.vanishOnRead = false;
    const bool second = monitor.secondCollection;
    monitor.secondCollection = false;
    monitors.push_back(monitor);
    const int index = static_cast<int>(monitors.size()) - 1;

    const int hub = ensureExternalHub();
    const std::wstring suffix = HexWord(0x2F6B4000 + nextId++, 8, true);
    const std::wstring ids = VidPid(monitor.vid, monitor.pid, true);
    const int usb =
        addNode(L"USB\\" + ids + L"\\" + suffix, L"USB Composite Device", hub, L"usbccgp");
    const int input = addNode(L"USB\\" + ids + L"&MI_00\\6&" + suffix + L"&0&0000",
                              L"USB Input Device", usb, L"HidUsb");
    SimInterface controller;
    controller.vid = monitor.vid;
    controller.pid = monitor.pid;
    controller.usagePage = monitor.usagePage;
    controller.usage = monitor.usage;
    controller.monitor = index;
    addHidInterface(L"HID\\" + ids + L"&MI_00&COL01\\7&" + suffix + L"&0&0000",
                    L"HID-compliant vendor-defined device", input, controller);
    if (second) {
        addSecondCollection(index);
    }
    return index;
}

void SimBus::addSecondCollection(int monitor) {
    const int own = monitorInterface(monitor);
    if (own < 0) {
        return;
    }
    SimMonitor& m = monitors[static_cast<size_t>(monitor)];
    m.secondCollection = true;
    const SimNode& first =
        nodes[static_cast<size_t>(interfaces[static_cast<size_t>(own)].parentNode)];
    const int parent = first.parent;
    std::wstring id = first.instanceId;
    const size_t col = id.find(L"&COL01\\");
    if (col != std::wstring::npos) {
        id.replace(col, 7, L"&COL02\\");
    }
    id.back() = L'1';
    SimInterface collection;
    collection.vid = m.vid;
    collection.pid = m.pid;
    collection.usagePage = 0xFF45;
    collection.usage = 0xA100;
    addHidInterface(id, L"HID-compliant vendor-defined device", parent, collection);
}

int SimBus::findInterface(const std::wstring& path) const {
    // Windows compares device paths without regard to case.
    const std::wstring wanted = Lower(path);
    for (size_t i = 0; i < interfaces.size(); ++i) {
        if (Lower(interfaces[i].path) == wanted) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int SimBus::monitorInterface(int monitor) const {
    for (size_t i = 0; i < interfaces.size(); ++i) {
        if (interfaces[i].monitor == monitor && monitor >= 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int SimBus::interfaceIndexOf(const void* handle) const {
    for (size_t i = 0; i < interfaces.size(); ++i) {
        if (handle == static_cast<const void*>(&interfaces[i])) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int SimBus::nodeDepth(int node) const {
    int depth = 0;
    // Bounded, so that a tree a test built with a cycle cannot hang the walk.
    for (size_t steps = 0; steps < nodes.size(); ++steps) {
        if (node < 0 || static_cast<size_t>(node) >= nodes.size()) {
            break;
        }
        node = nodes[static_cast<size_t>(node)].parent;
        if (node < 0) {
            break;
        }
        ++depth;
    }
    return depth;
}

int SimBus::firstChild(int node) const {
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (nodes[i].parent == node && node >= 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int SimBus::nextSibling(int node) const {
    if (node < 0 || static_cast<size_t>(node) >= nodes.size()) {
        return -1;
    }
    for (size_t i = static_cast<size_t>(node) + 1; i < nodes.size(); ++i) {
        if (nodes[i].parent == nodes[static_cast<size_t>(node)].parent) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int SimBus::findNodeByDriverKey(const std::wstring& name) const {
    // The roots (nodes without parent) stand for the children of the tree's root node.
    std::vector<int> pending;
    for (size_t i = nodes.size(); i-- > 0;) {
        if (nodes[i].parent < 0) {
            pending.push_back(static_cast<int>(i));
        }
    }
    // Bounded, so that a tree a test built with a cycle cannot hang the walk.
    for (size_t steps = 0; !pending.empty() && steps <= nodes.size(); ++steps) {
        const int node = pending.back();
        pending.pop_back();
        const SimNode& n = nodes[static_cast<size_t>(node)];
        if (!n.driverKey.empty() && n.driverKey == name) {
            return node;
        }
        std::vector<int> children;
        for (int child = firstChild(node); child >= 0; child = nextSibling(child)) {
            children.push_back(child);
        }
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    return -1;
}

int SimBus::portDevice(int hub, int port) const {
    int number = 0;
    for (int child = firstChild(hub); child >= 0; child = nextSibling(child)) {
        if (nodes[static_cast<size_t>(child)].instanceId.rfind(L"USB\\", 0) == 0 &&
            ++number == port) {
            return child;
        }
    }
    return -1;
}

bool SimBus::findHubAncestor(int node, uint16_t& vid, uint16_t& pid) const {
    int current = node;
    // Bounded, so that a tree a test built with a cycle cannot hang the walk.
    for (size_t steps = 0; steps <= nodes.size(); ++steps) {
        if (current < 0 || static_cast<size_t>(current) >= nodes.size()) {
            return false;
        }
        const int parent = nodes[static_cast<size_t>(current)].parent;
        if (parent < 0 || static_cast<size_t>(parent) >= nodes.size()) {
            return false;
        }
        const SimNode& p = nodes[static_cast<size_t>(parent)];
        if (p.description.size() >= 3 && p.description.find(L"Hub") != std::wstring::npos) {
            return parseInstanceIdVidPid(p.instanceId, vid, pid);
        }
        if (nodeDepth(parent) <= 1) {
            return false;
        }
        current = parent;
    }
    return false;
}

std::array<uint8_t, 64> DefaultMonitorConfig() {
    std::array<uint8_t, 64> config{};
    const struct {
        uint8_t offset;
        std::initializer_list<uint8_t> bytes;
    } groups[] = {
        {0x00, {0x02, 0x02, 0x18, 0x01}},  // beep on touch: frequency, duration, volume, event
        {0x10, {0x18, 0x26, 0x20}},        // tone 1, tone 2, master volume
        {0x20, {0x1B, 0x01, 0x01, 0x14, 0x64, 0x00, 0x00, 0x01, 0x01}},  // icon brightness
        {0x30, {0x01, 0x01, 0x00, 0x01, 0x01, 0x01, 0x14, 0x00}},        // OSD locks
        {0x38, {0x1D, 0x01, 0x01}},  // brightness, extended backlight, remote power
    };
    for (const auto& group : groups) {
        size_t at = group.offset;
        for (uint8_t b : group.bytes) {
            config[at++] = b;
        }
    }
    return config;
}

std::array<uint8_t, 16> DefaultComponentTable() {
    return {0x01, 0x05, 0x01, 0x00, 0x02, 0x02, 0x00, 0x00,
            0x03, 0x10, 0x02, 0x00, 0x04, 0x07, 0x01, 0x00};
}

std::vector<SimMonitor> DefaultMonitors() {
    SimMonitor first;
    first.serial = L"41-A0001";
    first.componentTable = DefaultComponentTable();
    first.config = DefaultMonitorConfig();
    first.secondCollection = true;
    SimMonitor second = first;
    second.serial = L"41-A0002";
    second.secondCollection = false;
    // A newer MCU and scaler on the second monitor.
    second.componentTable = {0x01, 0x06, 0x01, 0x00, 0x02, 0x02, 0x00, 0x00,
                             0x03, 0x11, 0x02, 0x00, 0x04, 0x07, 0x01, 0x00};
    return {first, second};
}

std::string HexBytes(const uint8_t* data, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(n * 3);
    for (size_t i = 0; i < n; ++i) {
        if (i != 0) {
            text.push_back(' ');
        }
        text.push_back(digits[data[i] >> 4]);
        text.push_back(digits[data[i] & 0x0F]);
    }
    return text;
}

}  // namespace sim
