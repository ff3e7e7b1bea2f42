#include "tests/linux/bed_Machine.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "hid/HidIo.h"
#include "hid/HidTypes.h"
#include "platform/Text.h"
#include "sim/SimState.h"
#include "tests/linux/bed_Descriptors.h"
#include "tests/support/CaptureStdout.h"

extern char** environ;

namespace bed {

namespace {

constexpr char kBase[] = "/devices/pci0000:00/0000:00:14.0";
constexpr int kHidrawMajor = 240;

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 0x0F]);
    }
    return text;
}

std::string Hex4(uint16_t value, bool upper = false) {
    char text[8];
    std::snprintf(text, sizeof text, upper ? "%04X" : "%04x", static_cast<unsigned>(value));
    return text;
}

// The USB device, its one interface, its HID device and its hidraw node, in umockdev's
// record format; hidrawPath receives the node's syspath.
std::string UsbHidDevice(const std::string& usbPath, const std::string& usbName, uint16_t vid,
                         uint16_t pid, uint16_t version, const std::string& serial,
                         const std::string& product, int hidSequence, int hidraw,
                         const std::vector<uint8_t>& descriptor, std::string& hidrawPath) {
    std::string text;
    text += "P: " + usbPath + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: PRODUCT=" + Hex4(vid) +
            "/" + Hex4(pid) + "/" + Hex4(version) + "\nA: idVendor=" + Hex4(vid) +
            "\nA: idProduct=" + Hex4(pid) + "\nA: bcdDevice=" + Hex4(version) +
            "\nA: bDeviceClass=00\nA: product=" + product + "\n";
    if (!serial.empty()) {
        text += "A: serial=" + serial + "\n";
    }
    const std::string interfacePath = usbPath + "/" + usbName + ":1.0";
    text += "\nP: " + interfacePath +
            "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=usbhid\n"
            "A: bInterfaceClass=03\nA: bInterfaceNumber=00\n";
    char hidName[32];
    std::snprintf(hidName, sizeof hidName, "0003:%s:%s.%04X", Hex4(vid, true).c_str(),
                  Hex4(pid, true).c_str(), static_cast<unsigned>(hidSequence));
    const std::string hidPath = interfacePath + "/" + hidName;
    text += "\nP: " + hidPath + "\nE: SUBSYSTEM=hid\nE: DRIVER=hid-generic\nE: HID_ID=0003:0000" +
            Hex4(vid, true) + ":0000" + Hex4(pid, true) + "\nE: HID_NAME=" + product +
            "\nE: HID_PHYS=usb-0000:00:14.0-" + usbName.substr(2) +
            "/input0\nE: HID_UNIQ=" + serial + "\nE: MODALIAS=hid:b0003g0001v0000" +
            Hex4(vid, true) + "p0000" + Hex4(pid, true) +
            "\nH: report_descriptor=" + Hex(descriptor) + "\n";
    const std::string node = "hidraw" + std::to_string(hidraw);
    hidrawPath = hidPath + "/hidraw/" + node;
    text += "\nP: " + hidrawPath + "\nN: " + node + "=00\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/" +
            node + "\nE: MAJOR=" + std::to_string(kHidrawMajor) +
            "\nE: MINOR=" + std::to_string(hidraw) + "\nA: dev=" + std::to_string(kHidrawMajor) +
            ":" + std::to_string(hidraw) + "\n";
    return text;
}

std::string Hub(const std::string& path, uint16_t vid, uint16_t pid, const std::string& product,
                int ports) {
    return "P: " + path +
           "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nA: idVendor=" + Hex4(vid) +
           "\nA: idProduct=" + Hex4(pid) +
           "\nA: bcdDevice=0100\nA: bDeviceClass=09\nA: maxchild=" + std::to_string(ports) +
           "\nA: product=" + product + "\n";
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
    UMockdevTestbed* bed = nullptr;
    ~Testbed() {
        if (bed != nullptr) {
            g_object_unref(bed);
        }
    }
};

struct Machine::Node {
    Machine* machine = nullptr;
    UMockdevIoctlBase* handler = nullptr;
    int interfaceIndex = -1;
    uint16_t vid = 0;
    uint16_t pid = 0;
    std::vector<uint8_t> descriptor;
    std::string name;
    std::string uniq;
    std::string phys;

    ~Node() {
        if (handler != nullptr) {
            g_object_unref(handler);
        }
    }
};

namespace {

// The handlers run on umockdev's worker thread; the bus is touched there only while a
// program runs, and by the test's thread only between runs.
std::mutex g_busLock;
uint64_t g_requests = 0;

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
        if (error != nullptr) {
            g_error_free(error);
        }
        return nullptr;
    }
    uint8_t* bytes = data->data;
    g_object_unref(data);  // the parent keeps its child
    return bytes;
}

void Complete(UMockdevIoctlClient* client, long result, int error) {
    umockdev_ioctl_client_complete(client, result, error);
}

// A text answer (name, phys, uniq): as much as fits, with its terminating zero.
void CompleteText(UMockdevIoctlClient* client, const std::string& text, size_t length) {
    uint8_t* out = Resolve(client, length);
    if (out == nullptr) {
        Complete(client, -1, EFAULT);
        return;
    }
    const size_t n = std::min(text.size() + 1, length);
    std::memcpy(out, text.c_str(), n);
    Complete(client, static_cast<long>(n), 0);
}

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    const auto* node = static_cast<const Machine::Node*>(data);
    std::lock_guard<std::mutex> lock(g_busLock);
    ++g_requests;
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    const size_t size = _IOC_SIZE(request);
    if (_IOC_TYPE(request) != 'H') {
        Complete(client, -1, ENOTTY);
        return TRUE;
    }
    switch (_IOC_NR(request)) {
        case _IOC_NR(HIDIOCGRDESCSIZE): {
            uint8_t* out = Resolve(client, sizeof(int));
            if (out == nullptr) {
                Complete(client, -1, EFAULT);
                break;
            }
            const int length = static_cast<int>(node->descriptor.size());
            std::memcpy(out, &length, sizeof length);
            Complete(client, 0, 0);
            break;
        }
        case _IOC_NR(HIDIOCGRDESC): {
            uint8_t* out = Resolve(client, sizeof(hidraw_report_descriptor));
            if (out == nullptr) {
                Complete(client, -1, EFAULT);
                break;
            }
            uint32_t asked = 0;
            std::memcpy(&asked, out, sizeof asked);
            if (asked > HID_MAX_DESCRIPTOR_SIZE - 1) {
                Complete(client, -1, EINVAL);
                break;
            }
            const size_t n = std::min<size_t>(asked, node->descriptor.size());
            std::memcpy(out + offsetof(hidraw_report_descriptor, value), node->descriptor.data(),
                        n);
            Complete(client, 0, 0);
            break;
        }
        case _IOC_NR(HIDIOCGRAWINFO): {
            uint8_t* out = Resolve(client, sizeof(hidraw_devinfo));
            if (out == nullptr) {
                Complete(client, -1, EFAULT);
                break;
            }
            hidraw_devinfo info{};
            info.bustype = BUS_USB;
            info.vendor = static_cast<int16_t>(node->vid);
            info.product = static_cast<int16_t>(node->pid);
            std::memcpy(out, &info, sizeof info);
            Complete(client, 0, 0);
            break;
        }
        case _IOC_NR(HIDIOCGRAWNAME(0)):
            CompleteText(client, node->name, size);
            break;
        case _IOC_NR(HIDIOCGRAWPHYS(0)):
            CompleteText(client, node->phys, size);
            break;
        case _IOC_NR(HIDIOCGRAWUNIQ(0)):
            CompleteText(client, node->uniq, size);
            break;
        case _IOC_NR(HIDIOCGFEATURE(0)): {
            uint8_t* buffer = Resolve(client, size);
            if (buffer == nullptr) {
                Complete(client, -1, EFAULT);
                break;
            }
            const sim::SimInterface& i =
                Bus().interfaces[static_cast<size_t>(node->interfaceIndex)];
            const uint32_t length =
                i.monitor >= 0 ? Bus().monitors[static_cast<size_t>(i.monitor)].featureReportLength
                               : 0;
            const uint32_t error =
                Bus().getFeature(node->interfaceIndex, buffer, static_cast<uint32_t>(size));
            if (error != 0) {
                Complete(client, -1, Errno(error, false));
            } else {
                Complete(client, static_cast<long>(std::min<size_t>(length, size)), 0);
            }
            break;
        }
        case _IOC_NR(HIDIOCSOUTPUT(0)): {
            uint8_t* buffer = Resolve(client, size);
            if (buffer == nullptr) {
                Complete(client, -1, EFAULT);
                break;
            }
            const uint32_t error =
                Bus().writeReport(node->interfaceIndex, buffer, static_cast<uint32_t>(size));
            Complete(client, error == 0 ? static_cast<long>(size) : -1L,
                     error == 0 ? 0 : Errno(error, false));
            break;
        }
        default:
            // Feature writes and input or output report requests: the controller stalls them.
            Complete(client, -1, EPIPE);
            break;
    }
    return TRUE;
}

gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    const auto* node = static_cast<const Machine::Node*>(data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    uint32_t error = 0;
    {
        std::lock_guard<std::mutex> lock(g_busLock);
        ++g_requests;
        uint8_t answer[kInputReportLength] = {};
        // A node the model does not know (the uhid keyboard) never has input.
        error = node->interfaceIndex < 0 ? kErrorIoPending
                                         : Bus().readReport(node->interfaceIndex, answer);
        if (error == 0) {
            const size_t n = std::min<size_t>(sizeof answer, static_cast<size_t>(arg->data_len));
            std::memcpy(arg->data, answer, n);
            Complete(client, static_cast<long>(n), 0);
            return TRUE;
        }
    }
    if (error == kErrorIoPending) {
        // A plain-file node is always ready, so a waiting reader spins on EAGAIN; pausing a
        // little here keeps that spin from eating the machine. Nothing can arrive meanwhile:
        // the model answers at the write.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    Complete(client, -1, Errno(error, true));
    return TRUE;
}

gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    const auto* node = static_cast<const Machine::Node*>(data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> lock(g_busLock);
    ++g_requests;
    const uint32_t length = static_cast<uint32_t>(arg->data_len);
    const uint32_t error = Bus().writeReport(node->interfaceIndex, arg->data, length);
    Complete(client, error == 0 ? static_cast<long>(length) : -1L,
             error == 0 ? 0 : Errno(error, false));
    return TRUE;
}

}  // namespace

Machine::Machine(const std::vector<sim::SimMonitor>& monitors, const Extras& extras)
    : testbed_(new Testbed) {
    testbed_->bed = umockdev_testbed_new();
    if (testbed_->bed == nullptr) {
        error_ = "umockdev_testbed_new failed";
        return;
    }
    {
        std::lock_guard<std::mutex> lock(g_busLock);
        Bus().loadMonitors(monitors);
        g_requests = 0;
    }
    if (!layOut(monitors, extras) && error_.empty()) {
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

bool Machine::addNode(const std::string& text, const std::string& devnode, int interfaceIndex,
                      uint16_t vid, uint16_t pid, std::vector<uint8_t> descriptor,
                      const std::string& name, const std::string& uniq, const std::string& phys) {
    GError* gerror = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_->bed, text.c_str(), &gerror)) {
        error_ = std::string("add_from_string: ") + (gerror != nullptr ? gerror->message : "?");
        if (gerror != nullptr) {
            g_error_free(gerror);
        }
        return false;
    }
    if (devnode.empty()) {
        return true;
    }
    auto node = std::make_unique<Node>();
    node->machine = this;
    node->interfaceIndex = interfaceIndex;
    node->vid = vid;
    node->pid = pid;
    node->descriptor = std::move(descriptor);
    node->name = name;
    node->uniq = uniq;
    node->phys = phys;
    node->handler = umockdev_ioctl_base_new();
    g_signal_connect(node->handler, "handle-ioctl", G_CALLBACK(OnIoctl), node.get());
    g_signal_connect(node->handler, "handle-read", G_CALLBACK(OnRead), node.get());
    g_signal_connect(node->handler, "handle-write", G_CALLBACK(OnWrite), node.get());
    if (!umockdev_testbed_attach_ioctl(testbed_->bed, devnode.c_str(), node->handler, &gerror)) {
        error_ = std::string("attach_ioctl: ") + (gerror != nullptr ? gerror->message : "?");
        if (gerror != nullptr) {
            g_error_free(gerror);
        }
        return false;
    }
    nodes_.push_back(std::move(node));
    return true;
}

bool Machine::layOut(const std::vector<sim::SimMonitor>& monitors, const Extras& extras) {
    const std::string base = kBase;
    const std::string root = base + "/usb1";
    const std::string hub = root + "/1-2";
    const int ports = static_cast<int>(std::max<size_t>(4, monitors.size() + 1));
    if (!addNode("P: " + base + "\nE: SUBSYSTEM=pci\nE: DRIVER=xhci_hcd\n\n" +
                     Hub(root, 0x1d6b, 0x0002, "xHCI Host Controller", 4) + "\n" +
                     Hub(hub, 0x04b3, 0x4675, "Generic USB Hub", ports),
                 "", -1, 0, 0, {}, "", "", "")) {
        return false;
    }

    sim::SimBus& bus = Bus();
    auto interfaceOf = [&](uint16_t vid, uint16_t pid) {
        for (size_t i = 0; i < bus.interfaces.size(); ++i) {
            if (bus.interfaces[i].monitor < 0 && bus.interfaces[i].vid == vid &&
                bus.interfaces[i].pid == pid) {
                return static_cast<int>(i);
            }
        }
        return -1;
    };

    int sequence = 1;
    int hidraw = 0;
    std::string hidrawPath;
    const std::string keyboardName = "Logitech USB Keyboard";
    std::string text = UsbHidDevice(root + "/1-1", "1-1", 0x046d, 0xc31c, 0x6400, "", keyboardName,
                                    sequence, hidraw, KeyboardDescriptor(), hidrawPath);
    if (!addNode(text, "/dev/hidraw0", interfaceOf(0x046d, 0xc31c), 0x046d, 0xc31c,
                 KeyboardDescriptor(), keyboardName, "", "usb-0000:00:14.0-1/input0")) {
        return false;
    }
    ++sequence;
    ++hidraw;
    const std::string touchName = "Atmel maXTouch Digitizer";
    std::vector<uint8_t> touch = TouchDescriptor();
    if (extras.brokenTouchDescriptor) {
        touch.resize(5);        // usage page and usage
        touch.push_back(0xA1);  // a collection item whose data byte is missing
    }
    text = UsbHidDevice(hub + "/1-2.1", "1-2.1", 0x03eb, 0x212c, 0x0100, "", touchName, sequence,
                        hidraw, touch, hidrawPath);
    if (!addNode(text, "/dev/hidraw1", interfaceOf(0x03eb, 0x212c), 0x03eb, 0x212c, touch,
                 touchName, "", "usb-0000:00:14.0-2.1/input0")) {
        return false;
    }
    for (size_t k = 0; k < monitors.size(); ++k) {
        ++sequence;
        ++hidraw;
        const sim::SimMonitor& m = bus.monitors[k];
        const std::string usbName = "1-2." + std::to_string(k + 2);
        const std::string serial = Narrow(m.serial);
        const std::string product = "POS Touch Monitor";
        const std::vector<uint8_t> descriptor = MonitorDescriptor(monitors[k]);
        text = UsbHidDevice(hub + "/" + usbName, usbName, m.vid, m.pid, m.version, serial, product,
                            sequence, hidraw, descriptor, hidrawPath);
        if (!addNode(text, "/dev/hidraw" + std::to_string(hidraw),
                     bus.monitorInterface(static_cast<int>(k)), m.vid, m.pid, descriptor, product,
                     serial, "usb-0000:00:14.0-" + usbName.substr(2) + "/input0")) {
            return false;
        }
    }
    if (extras.virtualKeyboard) {
        ++sequence;
        ++hidraw;
        char hidName[32];
        std::snprintf(hidName, sizeof hidName, "0006:1234:5678.%04X",
                      static_cast<unsigned>(sequence));
        const std::string node = "hidraw" + std::to_string(hidraw);
        const std::string hidPath = std::string("/devices/virtual/misc/uhid/") + hidName;
        const std::vector<uint8_t> descriptor = KeyboardDescriptor();
        text = "P: " + hidPath +
               "\nE: SUBSYSTEM=hid\nE: DRIVER=hid-generic\nE: HID_ID=0006:00001234:00005678\n"
               "E: HID_NAME=Virtual Keyboard\nE: HID_UNIQ=\nH: report_descriptor=" +
               Hex(descriptor) + "\n\nP: " + hidPath + "/hidraw/" + node + "\nN: " + node +
               "=00\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/" + node +
               "\nE: MAJOR=" + std::to_string(kHidrawMajor) +
               "\nE: MINOR=" + std::to_string(hidraw) + "\n";
        if (!addNode(text, "/dev/" + node, -1, 0x1234, 0x5678, descriptor, "Virtual Keyboard", "",
                     "")) {
            return false;
        }
    }
    return true;
}

RunResult Machine::run(const std::string& program, const std::vector<std::string>& arguments,
                       const std::string& workingDirectory,
                       const std::vector<std::string>& extraEnvironment, int timeoutSeconds) {
    RunResult result;
    TempDir outputDir;
    const std::string outPath = outputDir.file("stdout");
    const std::string errPath = outputDir.file("stderr");

    // Everything the child needs is built before fork: the harness has threads.
    // The inherited environment, less what is set below (getenv takes the first entry).
    std::vector<std::string> replaced{"LD_PRELOAD=", "ASAN_OPTIONS=", "UMOCKDEV_DIR="};
    for (const std::string& entry : extraEnvironment) {
        replaced.push_back(entry.substr(0, entry.find('=') + 1));
    }
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const bool keep = std::none_of(replaced.begin(), replaced.end(), [&](const std::string& n) {
            return entry.rfind(n, 0) == 0;
        });
        if (keep) {
            environment.push_back(entry);
        }
    }
    const char* preload = std::getenv("LD_PRELOAD");
    environment.push_back(
        std::string("LD_PRELOAD=libumockdev-preload.so.0") +
        (preload != nullptr && *preload != '\0' ? std::string(" ") + preload : std::string()));
    const char* asan = std::getenv("ASAN_OPTIONS");
    // The preload comes before the sanitizer runtime in the link order of a sanitizer build.
    environment.push_back(
        std::string("ASAN_OPTIONS=verify_asan_link_order=0") +
        (asan != nullptr && *asan != '\0' ? std::string(":") + asan : std::string()));
    environment.push_back("UMOCKDEV_DIR=" + root());
    for (const std::string& entry : extraEnvironment) {
        environment.push_back(entry);
    }
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
            chdir(workingDirectory.c_str()) != 0) {
            _exit(127);
        }
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    if (child < 0) {
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) {
            if (WIFEXITED(status)) {
                result.exitStatus = WEXITSTATUS(status);
            }
            break;
        }
        if (done < 0 || std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.out = ReadFileBytes(outPath);
    result.err = ReadFileBytes(errPath);
    return result;
}

std::vector<std::string> Machine::transcript() const {
    std::lock_guard<std::mutex> lock(g_busLock);
    return Bus().transcript;
}

uint64_t Machine::requests() const {
    std::lock_guard<std::mutex> lock(g_busLock);
    return g_requests;
}

std::string Machine::root() const {
    gchar* dir = umockdev_testbed_get_root_dir(testbed_->bed);
    std::string text = dir != nullptr ? dir : "";
    g_free(dir);
    return text;
}

std::vector<sim::SimMonitor> MonitorsFromState(const std::string& stateText) {
    std::vector<sim::SimMonitor> monitors;
    std::string error;
    if (!sim::ParseState(stateText, monitors, error)) {
        std::fprintf(stderr, "bad state text: %s\n", error.c_str());
        monitors.clear();
    }
    return monitors;
}

}  // namespace bed
