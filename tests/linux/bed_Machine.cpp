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
// set not to match) and a feature value (usage | 3); then the second collection, if set.
std::vector<uint8_t> MonitorDescriptor(const sim::SimMonitor& m) {
    std::vector<uint8_t> d;
    const bool numbered = m.reportId != 0 || m.otherOutputValues != 0 || m.secondCollection;
    auto collection = [&](int page, int usage) {  // values 0..255 in 8 bits
        Item(d, 0x04, page), Item(d, 0x08, usage), Item(d, 0xA0, 1);
        Item(d, 0x14, 0), Item(d, 0x24, 0xFF, 2), Item(d, 0x74, 8);
    };
    // One variable field of `count` bytes; main: 0x80 input, 0x90 output, 0xB0 feature.
    auto field = [&](bool id, int reportId, int usage, int count, int main) {
        if (id) {
            Item(d, 0x84, reportId);
        }
        Item(d, 0x08, usage), Item(d, 0x94, count), Item(d, main, 0x02);
    };
    const int outputCount = m.outputReportLength > 0 ? m.outputReportLength - 1 : 0;
    collection(m.usagePage, m.usage);
    field(numbered, m.reportId, m.usage | 2, 8, 0x80);
    for (int k = 0; k < m.otherOutputValues; ++k) {
        field(numbered, m.reportId + 1 + k, m.usage | 2, outputCount, 0x90);
    }
    if (outputCount > 0) {
        field(numbered, m.reportId, m.usage | (m.outputValueCapsMatch ? 1 : 2), outputCount, 0x90);
    }
    if (m.featureReportLength > 1) {
        field(numbered, m.reportId, m.usage | 3, m.featureReportLength - 1, 0xB0);
    }
    d.push_back(0xC0);
    if (m.secondCollection) {
        collection(0xFF45, 0xA100);
        field(true, 0xF0, 0xA101, 8, 0x80);
        d.push_back(0xC0);
    }
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

std::string HidrawNode(const std::string& hidPath, int hidraw) {
    const std::string node = "hidraw" + std::to_string(hidraw);
    const std::string minor = std::to_string(hidraw);
    return "\nP: " + hidPath + "/hidraw/" + node + "\nN: " + node +
           "=00\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/" + node +
           "\nE: MAJOR=240\nE: MINOR=" + minor + "\nA: dev=240:" + minor + "\n";
}

std::string Hub(const std::string& path, uint16_t vid, uint16_t pid, const std::string& product,
                int ports) {
    return "\nP: " + path + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb" +
           "\nA: idVendor=" + Hex4(vid) + "\nA: idProduct=" + Hex4(pid) +
           "\nA: bcdDevice=0100\nA: bDeviceClass=09\nA: maxchild=" + std::to_string(ports) +
           "\nA: product=" + product + "\n";
}

// Whether the descriptor declares report ids (a Report ID global item), walking short items.
bool Numbered(const std::vector<uint8_t>& d) {
    for (size_t at = 0; at < d.size(); at += 1 + (d[at] & 3) + ((d[at] & 3) == 3 ? 1 : 0)) {
        if ((d[at] & 0xFC) == 0x84) {
            return true;
        }
    }
    return false;
}

int Errno(uint32_t windowsError, bool read) {
    switch (windowsError) {
        case kErrorDeviceNotConnected:
            return read ? EIO : ENODEV;  // as hidraw reports a device that went away
        case sim::kErrorGenFailure:
            return EPIPE;  // the device stalled the request
        case sim::kErrorInvalidHandle:
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
    uint16_t vid = 0;
    uint16_t pid = 0;
    std::vector<uint8_t> descriptor;
    bool numbered = false;  // reads of an unnumbered node carry no report id byte
    std::string uniq;
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
            const hidraw_devinfo info{BUS_USB, static_cast<int16_t>(node->vid),
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
    const auto* node = static_cast<const Machine::Node*>(data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    uint32_t error = 0;
    {
        std::lock_guard<std::mutex> lock(g_busLock);
        uint8_t answer[kInputReportLength] = {};
        // A node the model does not know (the uhid keyboard) never has input.
        error = node->interfaceIndex < 0 ? kErrorIoPending
                                         : Bus().readReport(node->interfaceIndex, answer);
        if (error == 0) {
            const size_t skip = node->numbered ? 0 : 1;
            const size_t n =
                std::min<size_t>(sizeof answer - skip, static_cast<size_t>(arg->data_len));
            std::memcpy(arg->data, answer + skip, n);
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
    const auto* node = static_cast<const Machine::Node*>(data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> lock(g_busLock);
    const uint32_t length = static_cast<uint32_t>(arg->data_len);
    const uint32_t error = Bus().writeReport(node->interfaceIndex, arg->data, length);
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
        add("P: /devices/pci0000:00/0000:00:14.0\nE: SUBSYSTEM=pci\nE: DRIVER=xhci_hcd\n" +
            Hub(root, 0x1d6b, 0x0002, "xHCI Host Controller", 4) +
            Hub(hub, 0x04b3, 0x4675, "Generic USB Hub", ports)) &&
        addUsbHid(root, "1-1", interfaceOf(0x046d, 0xc31c), 0x046d, 0xc31c, 0x6400, "",
                  "Logitech USB Keyboard", descriptors::kKeyboard) &&
        addUsbHid(hub, "1-2.1", interfaceOf(0x03eb, 0x212c), 0x03eb, 0x212c, 0x0100, "",
                  "Atmel maXTouch Digitizer", touch);
    for (size_t k = 0; laidOut && k < monitors.size(); ++k) {
        const sim::SimMonitor& m = bus.monitors[k];
        laidOut = addUsbHid(hub, "1-2." + std::to_string(k + 2),
                            bus.monitorInterface(static_cast<int>(k)), m.vid, m.pid, m.version,
                            Narrow(m.serial), "POS Touch Monitor", MonitorDescriptor(monitors[k]));
    }
    if (laidOut && extras.virtualKeyboard) {
        char name[32];
        std::snprintf(name, sizeof name, "0006:1234:5678.%04X", static_cast<unsigned>(hidraw_ + 1));
        const std::string path = std::string("/devices/virtual/misc/uhid/") + name;
        auto node = std::make_unique<Node>();
        node->vid = 0x1234;
        node->pid = 0x5678;
        node->descriptor = descriptors::kKeyboard;
        laidOut = add(HidDevice(path, "0006:00001234:00005678", "Virtual Keyboard", "", "",
                                descriptors::kKeyboard) +
                          HidrawNode(path, hidraw_),
                      std::move(node));
    }
    if (!laidOut && error_.empty()) {
        error_ = "laying out the machine failed";
    }
}

// The testbed goes first: it holds the handlers and stops serving the nodes, so no request
// can reach a node that is gone.
Machine::~Machine() {
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
        const std::string devnode = "/dev/hidraw" + std::to_string(hidraw_++);
        umockdev_testbed_attach_ioctl(testbed_->bed, devnode.c_str(), handler, &gerror);
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
    char hidName[32];
    std::snprintf(hidName, sizeof hidName, "0003:%s:%s.%04X", Hex4(vid, true).c_str(),
                  Hex4(pid, true).c_str(), static_cast<unsigned>(hidraw_ + 1));
    const std::string hidPath = interfacePath + "/" + hidName;
    const std::string text =
        "P: " + usbPath + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: PRODUCT=" + Hex4(vid) +
        "/" + Hex4(pid) + "/" + Hex4(version) + "\nA: idVendor=" + Hex4(vid) +
        "\nA: idProduct=" + Hex4(pid) + "\nA: bcdDevice=" + Hex4(version) +
        "\nA: bDeviceClass=00\nA: product=" + product + "\n" +
        (serial.empty() ? "" : "A: serial=" + serial + "\n") + "\nP: " + interfacePath +
        "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=usbhid\n"
        "A: bInterfaceClass=03\nA: bInterfaceNumber=00\n\n" +
        HidDevice(hidPath, "0003:0000" + Hex4(vid, true) + ":0000" + Hex4(pid, true), product,
                  serial, "usb-0000:00:14.0-" + usbName.substr(2) + "/input0", descriptor) +
        HidrawNode(hidPath, hidraw_);
    auto node = std::make_unique<Node>();
    node->interfaceIndex = interfaceIndex;
    node->vid = vid;
    node->pid = pid;
    node->numbered = Numbered(descriptor);
    node->descriptor = std::move(descriptor);
    node->uniq = serial;
    return add(text, std::move(node));
}

std::vector<std::string> Machine::transcript() const {
    std::lock_guard<std::mutex> lock(g_busLock);
    return Bus().transcript;
}

}  // namespace bed
