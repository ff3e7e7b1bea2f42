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

struct Machine::Testbed {
    UMockdevTestbed* bed = umockdev_testbed_new();  // sets UMOCKDEV_DIR for the preload
    ~Testbed() { g_object_unref(bed); }
};

struct Machine::Node {
    int interfaceIndex = -1;  // in the model; -1: none
    uint16_t bus = BUS_USB;
    uint16_t vid = 0;
    uint16_t pid = 0;
    std::vector<uint8_t> descriptor;
    std::string uniq;
    bool numbered = false;  // reads start with the report id
    bool chatty = false;    // see Extras::chattySecondCollection
    std::string devnode;
    // Run state, on umockdev's thread under the bus lock.
    bool chatPending = false;
    int opens = 0;
    std::unique_ptr<UMockdevIoctlBase, decltype(&g_object_unref)> handler{nullptr, g_object_unref};
};

namespace {

using descriptors::Collection;
using descriptors::Field;

// The controller as the simulated monitor declares it: input (usage | 2), other output
// values, the command (usage | 1, or | 2 when set not to match), feature (usage | 3). Fields
// without an id come first; a numbered node also carries the second collection (report f0).
std::vector<uint8_t> MonitorDescriptor(const sim::SimMonitor& m, bool& numbered) {
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
    Collection(d, m.usagePage, m.usage, fields);
    if (m.secondCollection && numbered) {
        Collection(d, 0xFF45, 0xA100, {{0xF0, 0xA101, 8, 0x80}});
    }
    return d;
}

// The errno hidraw gives where Windows gives the model's error.
int Errno(uint32_t error, bool read) {
    return error == kErrorDeviceNotConnected ? (read ? EIO : ENODEV)  // the device went away
           : error == kErrorGenFailure       ? EPIPE                  // it stalled the request
           : error == kErrorInvalidHandle    ? EBADF
           : error == kErrorIoPending        ? EAGAIN
                                             : EINVAL;
}

// Handlers run on umockdev's thread, the test touches the bus between runs.
std::mutex g_busLock;

sim::SimBus& Bus() {
    return sim::SimBus::instance();
}

// The memory an ioctl's argument points at, written back at completion; owned by `arg`.
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
        default:
            // Report requests other than a feature fetch: the controller stalls them.
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
            // The model answers with an id byte first, hidraw only for numbered reports.
            const uint8_t* report = node->numbered ? answer : answer + 1;
            const size_t length = node->numbered ? sizeof answer : sizeof answer - 1;
            const size_t n = std::min<size_t>(length, static_cast<size_t>(arg->data_len));
            std::memcpy(arg->data, report, n);
            umockdev_ioctl_client_complete(client, static_cast<long>(n), 0);
            return TRUE;
        }
    }
    if (error == kErrorIoPending) {
        // The node is always ready: a short pause keeps a waiting reader from spinning hard.
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

// Set once, before any testbed thread runs; the preload comes before a sanitizer runtime.
void PreloadForChildren() {
    static const bool done =
        (PrependToEnvironment("LD_PRELOAD", "libumockdev-preload.so.0", " "),
         PrependToEnvironment("ASAN_OPTIONS", "verify_asan_link_order=0", ":"), true);
    (void)done;
}

}  // namespace

Machine::Machine(const std::vector<sim::SimMonitor>& monitors, const Extras& extras) {
    PreloadForChildren();
    testbed_ = std::make_unique<Testbed>();
    std::lock_guard<std::mutex> lock(g_busLock);
    sim::SimBus& bus = Bus();
    bus.loadMonitors(monitors);
    auto node = [&](int interface, uint16_t vid, uint16_t pid, const std::string& uniq,
                    std::vector<uint8_t> descriptor) {
        auto n = std::make_unique<Node>();
        n->interfaceIndex = interface;
        n->vid = vid;
        n->pid = pid;
        n->uniq = uniq;
        n->descriptor = std::move(descriptor);
        return n;
    };
    auto otherInterface = [&](uint16_t vid, uint16_t pid) {
        for (size_t i = 0; i < bus.interfaces.size(); ++i) {
            const sim::SimInterface& f = bus.interfaces[i];
            if (f.monitor < 0 && f.vid == vid && f.pid == pid) {
                return static_cast<int>(i);
            }
        }
        return -1;
    };
    // A USB device on a port of `parent`, its interface 1.0 and the node below that.
    auto usbHid = [&](const std::string& parent, const std::string& name, uint16_t version,
                      const std::string& product, std::unique_ptr<Node> n) {
        const std::string path = parent + "/" + name;
        const std::string more =
            "A: product=" + product + "\n" + (n->uniq.empty() ? "" : "A: serial=" + n->uniq + "\n");
        return add(UsbDevice(path, n->vid, n->pid, version, "00", more) +
                   UsbInterface(path + "/" + name + ":1.0", 0, "usbhid")) &&
               addHid(path + "/" + name + ":1.0", std::move(n),
                      "E: HID_NAME=" + product + "\nE: HID_PHYS=usb-0000:00:14.0-" +
                          name.substr(2) + "/input0\n");
    };
    const std::string root = "/devices/pci0000:00/0000:00:14.0/usb1";
    const std::string hub = root + "/1-2";
    const std::string ports = std::to_string(std::max<size_t>(4, monitors.size() + 1));
    std::vector<uint8_t> touch;  // the touch controller's vendor interface: 8 bytes in
    Collection(touch, 0xFF00, 0x0001, {{0, 0x0002, 8, 0x80}});
    if (extras.brokenTouchDescriptor) {
        touch.resize(5);        // usage page and usage
        touch.push_back(0xA1);  // a collection item whose data byte is missing
    }
    const std::string hubLines = "E: DRIVER=usb\nA: product=Generic USB Hub\nA: maxchild=";
    bool laidOut =
        add("P: /devices/pci0000:00/0000:00:14.0\nE: SUBSYSTEM=pci\nE: DRIVER=xhci_hcd\n\n" +
            UsbDevice(root, 0x1d6b, 0x0002, 0x0100, "09", hubLines + "4\n") +
            UsbDevice(hub, 0x04b3, 0x4675, 0x0100, "09", hubLines + ports + "\n")) &&
        usbHid(root, "1-1", 0x6400, "Logitech USB Keyboard",
               node(otherInterface(0x046d, 0xc31c), 0x046d, 0xc31c, "", descriptors::kKeyboard)) &&
        usbHid(hub, "1-2.1", 0x0100, "Atmel maXTouch Digitizer",
               node(otherInterface(0x03eb, 0x212c), 0x03eb, 0x212c, "", touch));
    for (size_t k = 0; laidOut && k < monitors.size(); ++k) {
        const sim::SimMonitor& m = bus.monitors[k];
        const std::string name = "1-2." + std::to_string(k + 2);
        const std::string serial = Narrow(m.serial);
        bool numbered = false;
        auto controller = node(bus.monitorInterface(static_cast<int>(k)), m.vid, m.pid, serial,
                               MonitorDescriptor(m, numbered));
        controller->numbered = numbered;
        controller->chatty = extras.chattySecondCollection && m.secondCollection && numbered;
        if (extras.bluetoothMonitor && k + 1 == monitors.size()) {
            // Its HID device hangs below the dongle's USB interface, but is no USB device.
            const std::string host = hub + "/" + name + "/" + name + ":1.0/bluetooth/hci0";
            controller->bus = BUS_BLUETOOTH;
            laidOut = add(UsbDevice(hub + "/" + name, 0x0a12, 0x0001, 0x8891, "e0",
                                    "A: product=Bluetooth Dongle\nA: serial=BT-DONGLE-0001\n") +
                          UsbInterface(hub + "/" + name + "/" + name + ":1.0", 0, "btusb") +
                          "P: " + host + "\nE: SUBSYSTEM=bluetooth\nE: DEVTYPE=host\n\nP: " + host +
                          "/hci0:256\nE: SUBSYSTEM=bluetooth\nE: DEVTYPE=link\n\n") &&
                      addHid(host + "/hci0:256", std::move(controller),
                             "E: HID_NAME=POS Touch Monitor\nE: HID_PHYS=00:1a:7d:da:71:13\n");
            continue;
        }
        laidOut = usbHid(hub, name, m.version, "POS Touch Monitor", std::move(controller));
        if (laidOut && m.secondCollection && !numbered) {
            const std::string second = hub + "/" + name + "/" + name + ":1.1";
            std::vector<uint8_t> descriptor;
            Collection(descriptor, 0xFF45, 0xA100, {{0, 0xA101, 8, 0x80}});
            laidOut = add(UsbInterface(second, 1, "usbhid")) &&
                      addHid(second, node(-1, m.vid, m.pid, serial, descriptor),
                             "E: HID_NAME=POS Touch Monitor\nE: HID_PHYS=usb-0000:00:14.0-" +
                                 name.substr(2) + "/input1\n");
        }
    }
    if (laidOut && extras.virtualKeyboard) {
        auto keyboard = node(-1, 0x1234, 0x5678, "", descriptors::kKeyboard);
        keyboard->bus = BUS_VIRTUAL;
        laidOut = addHid("/devices/virtual/misc/uhid", std::move(keyboard),
                         "E: HID_NAME=Virtual Keyboard\n");
    }
    if (!laidOut && error_.empty()) {
        error_ = "laying out the machine failed";
    }
}

Machine::~Machine() {
    // Handlers stop first: the testbed's teardown unsets UMOCKDEV_DIR, which they read.
    for (const auto& node : nodes_) {
        umockdev_testbed_detach_ioctl(testbed_->bed, node->devnode.c_str(), nullptr);
    }
    testbed_.reset();
    nodes_.clear();
    std::lock_guard<std::mutex> lock(g_busLock);
    Bus().reset();
}

// Adds umockdev records and, with a node, answers the hidraw node they create last.
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

bool Machine::addHid(const std::string& parent, std::unique_ptr<Node> node,
                     const std::string& more) {
    const int hidraw = static_cast<int>(nodes_.size());
    node->devnode = "/dev/hidraw" + std::to_string(hidraw);
    std::string hex;
    for (uint8_t b : node->descriptor) {
        hex += Hex4(b).substr(2);
    }
    const std::string text =
        HidWithNode(parent, node->bus, node->vid, node->pid, node->uniq, hex, hidraw, more);
    return add(text, std::move(node));
}

std::string Machine::opens(bool monitors) const {
    std::lock_guard<std::mutex> lock(g_busLock);
    std::string result;
    for (const auto& node : nodes_) {
        const int interface = node->interfaceIndex;
        if ((interface >= 0 && Bus().interfaces[static_cast<size_t>(interface)].monitor >= 0) ==
            monitors) {
            result += node->devnode + "=" + std::to_string(node->opens) + " ";
        }
    }
    return result;
}

std::vector<std::string> Machine::transcript() const {
    std::lock_guard<std::mutex> lock(g_busLock);
    return Bus().transcript;
}

}  // namespace bed
