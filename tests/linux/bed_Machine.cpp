#include "tests/linux/bed_Machine.h"

#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "hid/HidIo.h"
#include "hid/HidTypes.h"
#include "platform/Text.h"
#include "tests/support/Descriptors.h"

namespace bed {

namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        text += "0123456789abcdef"[b >> 4];
        text += "0123456789abcdef"[b & 0x0F];
    }
    return text;
}

std::string Hex4(uint16_t value, bool upper = false) {
    char text[8];
    std::snprintf(text, sizeof text, upper ? "%04X" : "%04x", static_cast<unsigned>(value));
    return text;
}

// A short item: prefix with its size code, then the value in 1 or 2 little-endian bytes.
void Item(std::vector<uint8_t>& d, int prefix, int value, int size = 0) {
    size = size != 0 ? size : (value > 0xFF ? 2 : 1);
    d.push_back(static_cast<uint8_t>(prefix | size));
    d.push_back(static_cast<uint8_t>(value));
    if (size == 2) {
        d.push_back(static_cast<uint8_t>(value >> 8));
    }
}

// A monitor's video controller as the simulated monitor declares it: one application
// collection with an input value (usage | 2, 8 bytes), the output values of another usage
// the monitor declares before its command value, the command value (usage | 1, or | 2 when
// set not to match) and a feature value (usage | 3), each on the report id the monitor
// gives it. Fields without an id come first, before any Report ID item (only the layout of
// earlier state files, whose feature report has no id while the rest do, mixes them). A node
// that numbers its reports also carries the second collection, if set (usage 0xA100, report
// 0xF0); `numbered` says whether it does.
std::vector<uint8_t> MonitorDescriptor(const sim::SimMonitor& m, bool& numbered) {
    struct Field {
        int reportId, usage, count, main;  // main: 0x80 input, 0x90 output, 0xB0 feature
    };
    const int outputCount = m.outputReportLength > 0 ? m.outputReportLength - 1 : 0;
    std::vector<Field> fields = {{m.reportId, m.usage | 2, 8, 0x80}};
    for (int k = 0; k < m.otherOutputValues; ++k) {
        fields.push_back({(m.reportId + 1 + k) & 0xFF, m.usage | 2, outputCount, 0x90});
    }
    if (outputCount > 0) {
        fields.push_back(
            {m.reportId, m.usage | (m.outputValueCapsMatch ? 1 : 2), outputCount, 0x90});
    }
    if (m.featureReportLength > 1) {
        fields.push_back({sim::FeatureReportId(m), m.usage | 3, m.featureReportLength - 1, 0xB0});
    }
    std::stable_partition(fields.begin(), fields.end(),
                          [](const Field& f) { return f.reportId == 0; });
    numbered = fields.back().reportId != 0;

    std::vector<uint8_t> d;
    auto collection = [&](int page, int usage) {
        Item(d, 0x04, page), Item(d, 0x08, usage), Item(d, 0xA0, 1);
        Item(d, 0x14, 0), Item(d, 0x24, 0xFF, 2), Item(d, 0x74, 8);
    };
    auto field = [&](const Field& f) {
        if (f.reportId != 0) {
            Item(d, 0x84, f.reportId);
        }
        Item(d, 0x08, f.usage), Item(d, 0x94, f.count), Item(d, f.main, 0x02);
    };
    collection(m.usagePage, m.usage);
    for (const Field& f : fields) {
        field(f);
    }
    d.push_back(0xC0);
    if (m.secondCollection && numbered) {
        collection(0xFF45, 0xA100);
        field({0xF0, 0xA101, 8, 0x80});
        d.push_back(0xC0);
    }
    return d;
}

// The second collection of a monitor whose reports carry no id: a HID interface of its own
// (one descriptor without ids cannot carry two collections that both send input reports).
std::vector<uint8_t> SecondCollectionDescriptor() {
    std::vector<uint8_t> d;
    Item(d, 0x04, 0xFF45), Item(d, 0x08, 0xA100), Item(d, 0xA0, 1);
    Item(d, 0x14, 0), Item(d, 0x24, 0xFF, 2), Item(d, 0x74, 8);
    Item(d, 0x08, 0xA101), Item(d, 0x94, 8), Item(d, 0x80, 0x02);
    d.push_back(0xC0);
    return d;
}

// The touch controller's vendor interface, without report ids: 8 bytes in.
std::vector<uint8_t> TouchDescriptor() {
    return descriptors::InCollection(
        {0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x09, 0x02, 0x95, 0x08, 0x81, 0x02});
}

std::string HidDevice(const std::string& path, const std::string& id, const std::string& name,
                      const std::string& uniq, const std::string& phys,
                      const std::vector<uint8_t>& descriptor) {
    return "P: " + path + "\nE: SUBSYSTEM=hid\nE: DRIVER=hid-generic\nE: HID_ID=" + id +
           "\nE: HID_NAME=" + name + "\nE: HID_PHYS=" + phys + "\nE: HID_UNIQ=" + uniq +
           "\nH: report_descriptor=" + Hex(descriptor) + "\n";
}

std::string UsbDevice(const std::string& path, uint16_t vid, uint16_t pid, uint16_t version,
                      const std::string& serial, const std::string& product,
                      const std::string& deviceClass, const std::string& extra = "") {
    return "P: " + path + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: PRODUCT=" + Hex4(vid) +
           "/" + Hex4(pid) + "/" + Hex4(version) + "\nA: idVendor=" + Hex4(vid) +
           "\nA: idProduct=" + Hex4(pid) + "\nA: bcdDevice=" + Hex4(version) +
           "\nA: bDeviceClass=" + deviceClass + "\nA: product=" + product + "\n" +
           (serial.empty() ? "" : "A: serial=" + serial + "\n") + extra + "\n";
}

std::string UsbInterface(const std::string& path, int number, const std::string& driver,
                         const std::string& interfaceClass) {
    return "P: " + path + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=" + driver +
           "\nA: bInterfaceClass=" + interfaceClass + "\nA: bInterfaceNumber=0" +
           std::to_string(number) + "\n\n";
}

std::string HidrawNode(const std::string& hidPath, int hidraw) {
    const std::string node = "hidraw" + std::to_string(hidraw);
    const std::string minor = std::to_string(hidraw);
    return "\nP: " + hidPath + "/hidraw/" + node + "\nN: " + node +
           "=00\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/" + node +
           "\nE: MAJOR=240\nE: MINOR=" + minor + "\nA: dev=240:" + minor + "\n";
}

std::string Hub(const std::string& path, uint16_t vid, uint16_t pid, const std::string& product,
                int ports) {
    return UsbDevice(path, vid, pid, 0x0100, "", product, "09",
                     "E: DRIVER=usb\nA: maxchild=" + std::to_string(ports) + "\n");
}

int Errno(uint32_t windowsError, bool read) {
    switch (windowsError) {
        case kErrorDeviceNotConnected:
            return read ? EIO : ENODEV;  // as hidraw reports a device that went away
        case kErrorGenFailure:
            return EPIPE;  // the device stalled the request
        case kErrorInvalidHandle:
            return EBADF;
        case kErrorIoPending:
            return EAGAIN;
        default:
            return EINVAL;
    }
}

}  // namespace

struct Machine::Testbed {
    UMockdevTestbed* bed = umockdev_testbed_new();  // sets UMOCKDEV_DIR for the preload
    ~Testbed() { g_object_unref(bed); }
};

struct Machine::Node {
    int interfaceIndex = -1;
    uint16_t bus = BUS_USB;
    uint16_t vid = 0;
    uint16_t pid = 0;
    std::vector<uint8_t> descriptor;
    bool numbered = false;  // reads start with the report id
    std::string uniq;
    std::string product;
    std::string phys;
    std::string devnode;
    // A numbered monitor's second collection sends a report (id 0xF0, status bit 0 set)
    // after each report the controller takes, before its answer.
    bool chatty = false;
    // Run state, on umockdev's thread under the bus lock.
    bool chatPending = false;
    int opens = 0;
    std::unique_ptr<UMockdevIoctlBase, decltype(&g_object_unref)> handler{nullptr, g_object_unref};
};

namespace {

// The handlers run on umockdev's worker thread; the bus is touched there only while a
// program runs, and by the test's thread only between runs.
std::mutex g_busLock;

sim::SimBus& Bus() {
    return sim::SimBus::instance();
}

// The memory an ioctl's pointer argument points at, copied from the program; changes are
// written back when the request completes. Owned by `arg`, whose child it becomes.
uint8_t* Resolve(UMockdevIoctlClient* client, size_t length) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* error = nullptr;
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, length, &error);
    if (data == nullptr) {
        g_clear_error(&error);
        return nullptr;
    }
    uint8_t* bytes = data->data;
    g_object_unref(data);  // the parent keeps its child
    return bytes;
}

void OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer data) {
    auto* node = static_cast<Machine::Node*>(data);
    std::lock_guard<std::mutex> lock(g_busLock);
    ++node->opens;
}

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    const auto* node = static_cast<const Machine::Node*>(data);
    std::lock_guard<std::mutex> lock(g_busLock);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    const size_t size = _IOC_SIZE(request);
    uint8_t* out = _IOC_TYPE(request) == 'H' ? Resolve(client, size) : nullptr;
    if (out == nullptr) {
        umockdev_ioctl_client_complete(client, -1, _IOC_TYPE(request) == 'H' ? EFAULT : ENOTTY);
        return TRUE;
    }
    const int interface = node->interfaceIndex;
    long result = 0;
    int failure = 0;
    switch (_IOC_NR(request)) {
        case _IOC_NR(HIDIOCGRDESCSIZE): {
            const int length = static_cast<int>(node->descriptor.size());
            std::memcpy(out, &length, sizeof length);
            break;
        }
        case _IOC_NR(HIDIOCGRDESC): {
            uint32_t asked = 0;
            std::memcpy(&asked, out, sizeof asked);
            std::memcpy(out + offsetof(hidraw_report_descriptor, value), node->descriptor.data(),
                        std::min<size_t>(asked, node->descriptor.size()));
            break;
        }
        case _IOC_NR(HIDIOCGRAWINFO): {
            const hidraw_devinfo info{node->bus, static_cast<int16_t>(node->vid),
                                      static_cast<int16_t>(node->pid)};
            std::memcpy(out, &info, sizeof info);
            break;
        }
        case _IOC_NR(HIDIOCGRAWUNIQ(0)):  // as much as fits, with its terminating zero
            result = static_cast<long>(std::min(node->uniq.size() + 1, size));
            std::memcpy(out, node->uniq.c_str(), static_cast<size_t>(result));
            break;
        case _IOC_NR(HIDIOCGFEATURE(0)): {
            const int monitor = interface >= 0 ? Bus().interfaces[size_t(interface)].monitor : -1;
            const size_t length =
                monitor >= 0 ? Bus().monitors[size_t(monitor)].featureReportLength : 0;
            const uint8_t own =
                monitor >= 0 ? sim::FeatureReportId(Bus().monitors[size_t(monitor)]) : 0;
            if (monitor >= 0 && out[0] != own) {
                failure = EPIPE;  // a report the device does not have: it stalls the request
                break;
            }
            const uint32_t error = Bus().getFeature(interface, out, static_cast<uint32_t>(size));
            failure = error != 0 ? Errno(error, false) : 0;
            result = static_cast<long>(std::min(length, size));
            break;
        }
        case _IOC_NR(HIDIOCSOUTPUT(0)): {
            const uint32_t error = Bus().writeReport(interface, out, static_cast<uint32_t>(size));
            failure = error != 0 ? Errno(error, false) : 0;
            result = static_cast<long>(size);
            break;
        }
        default:
            // Feature writes and input or output report requests: the controller stalls them.
            failure = EPIPE;
            break;
    }
    umockdev_ioctl_client_complete(client, failure != 0 ? -1 : result, failure);
    return TRUE;
}

gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* node = static_cast<Machine::Node*>(data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    uint32_t error = 0;
    {
        std::lock_guard<std::mutex> lock(g_busLock);
        uint8_t answer[kInputReportLength] = {};
        if (node->chatPending) {
            node->chatPending = false;
            answer[0] = 0xF0;
            answer[1] = 0x01;
        } else {
            // A node the model does not know (the uhid keyboard) never has input.
            error = node->interfaceIndex < 0 ? kErrorIoPending
                                             : Bus().readReport(node->interfaceIndex, answer);
        }
        if (error == 0) {
            // The model answers as ReadFile has it, with an id byte first; the kernel puts
            // one there only for a device that numbers its reports.
            const uint8_t* report = node->numbered ? answer : answer + 1;
            const size_t length = node->numbered ? sizeof answer : sizeof answer - 1;
            const size_t n = std::min<size_t>(length, static_cast<size_t>(arg->data_len));
            std::memcpy(arg->data, report, n);
            umockdev_ioctl_client_complete(client, static_cast<long>(n), 0);
            return TRUE;
        }
    }
    if (error == kErrorIoPending) {
        // A plain-file node is always ready, so a waiting reader spins on EAGAIN; pausing a
        // little here keeps that spin from eating the machine. Nothing can arrive meanwhile:
        // the model answers at the write.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    umockdev_ioctl_client_complete(client, -1, Errno(error, true));
    return TRUE;
}

gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* node = static_cast<Machine::Node*>(data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> lock(g_busLock);
    const uint32_t length = static_cast<uint32_t>(arg->data_len);
    const uint32_t error = Bus().writeReport(node->interfaceIndex, arg->data, length);
    node->chatPending = node->chatty && error == 0;
    umockdev_ioctl_client_complete(client, error == 0 ? static_cast<long>(length) : -1L,
                                   error == 0 ? 0 : Errno(error, false));
    return TRUE;
}

// Programs started from here on load the preload library, which comes before the sanitizer
// runtime in the link order of a sanitizer build. Set once, before any testbed thread runs.
void PreloadForChildren() {
    static const bool done = [] {
        for (const auto& [name, value, separator] :
             {std::tuple{"LD_PRELOAD", "libumockdev-preload.so.0", " "},
              std::tuple{"ASAN_OPTIONS", "verify_asan_link_order=0", ":"}}) {
            const char* old = std::getenv(name);
            const std::string text = old != nullptr && *old != '\0'
                                         ? std::string(value) + separator + old
                                         : std::string(value);
            setenv(name, text.c_str(), 1);
        }
        return true;
    }();
    (void)done;
}

}  // namespace

Machine::Machine(const std::vector<sim::SimMonitor>& monitors, const Extras& extras) {
    PreloadForChildren();
    testbed_ = std::make_unique<Testbed>();
    {
        std::lock_guard<std::mutex> lock(g_busLock);
        Bus().loadMonitors(monitors);
    }
    sim::SimBus& bus = Bus();
    auto interfaceOf = [&](uint16_t vid, uint16_t pid) {
        for (size_t i = 0; i < bus.interfaces.size(); ++i) {
            const sim::SimInterface& f = bus.interfaces[i];
            if (f.monitor < 0 && f.vid == vid && f.pid == pid) {
                return static_cast<int>(i);
            }
        }
        return -1;
    };
    const std::string root = "/devices/pci0000:00/0000:00:14.0/usb1";
    const std::string hub = root + "/1-2";
    const int ports = static_cast<int>(std::max<size_t>(4, monitors.size() + 1));
    std::vector<uint8_t> touch = TouchDescriptor();
    if (extras.brokenTouchDescriptor) {
        touch.resize(5);        // usage page and usage
        touch.push_back(0xA1);  // a collection item whose data byte is missing
    }
    bool laidOut =
        add("P: /devices/pci0000:00/0000:00:14.0\nE: SUBSYSTEM=pci\nE: DRIVER=xhci_hcd\n\n" +
            Hub(root, 0x1d6b, 0x0002, "xHCI Host Controller", 4) +
            Hub(hub, 0x04b3, 0x4675, "Generic USB Hub", ports)) &&
        addUsbHid(root, "1-1", interfaceOf(0x046d, 0xc31c), 0x046d, 0xc31c, 0x6400, "",
                  "Logitech USB Keyboard", descriptors::kKeyboard) &&
        addUsbHid(hub, "1-2.1", interfaceOf(0x03eb, 0x212c), 0x03eb, 0x212c, 0x0100, "",
                  "Atmel maXTouch Digitizer", touch);
    for (size_t k = 0; laidOut && k < monitors.size(); ++k) {
        const sim::SimMonitor& m = bus.monitors[k];
        const std::string usbName = "1-2." + std::to_string(k + 2);
        const std::string usbPath = hub + "/" + usbName;
        const std::string serial = Narrow(m.serial);
        auto controller = std::make_unique<Node>();
        controller->interfaceIndex = bus.monitorInterface(static_cast<int>(k));
        controller->vid = m.vid;
        controller->pid = m.pid;
        controller->uniq = serial;
        controller->product = "POS Touch Monitor";
        controller->descriptor = MonitorDescriptor(m, controller->numbered);
        controller->chatty =
            extras.chattySecondCollection && m.secondCollection && controller->numbered;
        if (extras.bluetoothMonitor && k + 1 == monitors.size()) {
            // A Bluetooth dongle on the hub port, the monitor paired with it: its HID device
            // hangs below the dongle's USB interface, but it is not a USB device.
            const std::string interface = usbPath + "/" + usbName + ":1.0";
            const std::string host = interface + "/bluetooth/hci0";
            laidOut = add(UsbDevice(usbPath, 0x0a12, 0x0001, 0x8891, "BT-DONGLE-0001",
                                    "Bluetooth Dongle", "e0") +
                          UsbInterface(interface, 0, "btusb", "e0") + "P: " + host +
                          "\nE: SUBSYSTEM=bluetooth\nE: DEVTYPE=host\n\nP: " + host +
                          "/hci0:256\nE: SUBSYSTEM=bluetooth\nE: DEVTYPE=link\n");
            controller->bus = BUS_BLUETOOTH;
            controller->phys = "00:1a:7d:da:71:13";
            laidOut = laidOut && addHid(host + "/hci0:256", std::move(controller));
            continue;
        }
        const std::string interface = usbPath + "/" + usbName + ":1.0";
        controller->phys = "usb-0000:00:14.0-" + usbName.substr(2) + "/input0";
        laidOut =
            add(UsbDevice(usbPath, m.vid, m.pid, m.version, serial, "POS Touch Monitor", "00") +
                UsbInterface(interface, 0, "usbhid", "03"));
        const bool apart = m.secondCollection && !controller->numbered;
        laidOut = laidOut && addHid(interface, std::move(controller));
        if (laidOut && apart) {
            const std::string second = usbPath + "/" + usbName + ":1.1";
            auto collection = std::make_unique<Node>();
            collection->vid = m.vid;
            collection->pid = m.pid;
            collection->uniq = serial;
            collection->product = "POS Touch Monitor";
            collection->phys = "usb-0000:00:14.0-" + usbName.substr(2) + "/input1";
            collection->descriptor = SecondCollectionDescriptor();
            laidOut = add(UsbInterface(second, 1, "usbhid", "03")) &&
                      addHid(second, std::move(collection));
        }
    }
    if (laidOut && extras.virtualKeyboard) {
        auto keyboard = std::make_unique<Node>();
        keyboard->bus = BUS_VIRTUAL;
        keyboard->vid = 0x1234;
        keyboard->pid = 0x5678;
        keyboard->product = "Virtual Keyboard";
        keyboard->descriptor = descriptors::kKeyboard;
        laidOut = addHid("/devices/virtual/misc/uhid", std::move(keyboard));
    }
    if (!laidOut && error_.empty()) {
        error_ = "laying out the machine failed";
    }
}

// The testbed goes first: it holds the handlers and stops serving the nodes, so no request
// can reach a node that is gone.
Machine::~Machine() {
    // Every node's handler stops before the testbed goes: the testbed's teardown unsets
    // UMOCKDEV_DIR, and a handler still accepting a connection on umockdev's thread reads the
    // environment, which must not change under it.
    for (const auto& node : nodes_) {
        umockdev_testbed_detach_ioctl(testbed_->bed, node->devnode.c_str(), nullptr);
    }
    testbed_.reset();
    nodes_.clear();
    std::lock_guard<std::mutex> lock(g_busLock);
    Bus().reset();
}

// Adds umockdev records and, with a node, answers the hidraw node they create next.
bool Machine::add(const std::string& text, std::unique_ptr<Node> node) {
    GError* gerror = nullptr;
    const char* what = "add_from_string";
    if (umockdev_testbed_add_from_string(testbed_->bed, text.c_str(), &gerror) && node) {
        what = "attach_ioctl";
        node->handler.reset(umockdev_ioctl_base_new());
        UMockdevIoctlBase* handler = node->handler.get();
        g_signal_connect(handler, "handle-ioctl", G_CALLBACK(OnIoctl), node.get());
        g_signal_connect(handler, "handle-read", G_CALLBACK(OnRead), node.get());
        g_signal_connect(handler, "handle-write", G_CALLBACK(OnWrite), node.get());
        g_signal_connect(handler, "client-connected", G_CALLBACK(OnConnected), node.get());
        node->devnode = "/dev/hidraw" + std::to_string(hidraw_++);
        umockdev_testbed_attach_ioctl(testbed_->bed, node->devnode.c_str(), handler, &gerror);
        nodes_.push_back(std::move(node));
    }
    if (gerror != nullptr) {
        error_ = std::string(what) + ": " + gerror->message;
        g_error_free(gerror);
        return false;
    }
    return true;
}

// The USB device, its one interface, its HID device and its hidraw node.
bool Machine::addUsbHid(const std::string& parent, const std::string& usbName, int interfaceIndex,
                        uint16_t vid, uint16_t pid, uint16_t version, const std::string& serial,
                        const std::string& product, std::vector<uint8_t> descriptor) {
    const std::string usbPath = parent + "/" + usbName;
    const std::string interfacePath = usbPath + "/" + usbName + ":1.0";
    auto hid = std::make_unique<Node>();
    hid->interfaceIndex = interfaceIndex;
    hid->vid = vid;
    hid->pid = pid;
    hid->uniq = serial;
    hid->product = product;
    hid->phys = "usb-0000:00:14.0-" + usbName.substr(2) + "/input0";
    hid->descriptor = std::move(descriptor);
    return add(UsbDevice(usbPath, vid, pid, version, serial, product, "00") +
               UsbInterface(interfacePath, 0, "usbhid", "03")) &&
           addHid(interfacePath, std::move(hid));
}

// A HID device below `parent` (named as the kernel names it: bus, ids, instance) and its
// hidraw node, answered from the model.
bool Machine::addHid(const std::string& parent, std::unique_ptr<Node> node) {
    char name[32];
    std::snprintf(name, sizeof name, "%04X:%s:%s.%04X", static_cast<unsigned>(node->bus),
                  Hex4(node->vid, true).c_str(), Hex4(node->pid, true).c_str(),
                  static_cast<unsigned>(hidraw_ + 1));
    const std::string path = parent + "/" + name;
    const std::string id =
        Hex4(node->bus, true) + ":0000" + Hex4(node->vid, true) + ":0000" + Hex4(node->pid, true);
    const std::string text =
        HidDevice(path, id, node->product, node->uniq, node->phys, node->descriptor) +
        HidrawNode(path, hidraw_);
    return add(text, std::move(node));
}

std::vector<Machine::NodeOpens> Machine::opens() const {
    std::lock_guard<std::mutex> lock(g_busLock);
    std::vector<NodeOpens> result;
    for (const auto& node : nodes_) {
        const int interface = node->interfaceIndex;
        const bool monitor =
            interface >= 0 && Bus().interfaces[static_cast<size_t>(interface)].monitor >= 0;
        result.push_back({node->devnode, monitor, node->opens});
    }
    return result;
}

std::vector<std::string> Machine::transcript() const {
    std::lock_guard<std::mutex> lock(g_busLock);
    return Bus().transcript;
}

}  // namespace bed
