// Arbitrary bytes as a simulator state file: refused cleanly or round-tripped, and the
// monitors it describes discovered and read without a crash.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "devices/KemoVideoFlash.h"
#include "discovery/ZelHidDisplayList.h"
#include "hid/HidLib.h"
#include "log/Log.h"
#include "sim/SimBus.h"
#include "sim/SimState.h"
#include "sim/SimWalks.h"

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_sim_state: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    GetLogHandler();  // level Off: nothing is written anywhere
    Check(std::freopen("/dev/null", "w", stdout) != nullptr, "stdout");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<sim::SimMonitor> monitors;
    std::string error;
    if (!sim::ParseState(text, monitors, error)) {
        Check(monitors.empty(), "a refused state file changed the monitors");
        return 0;
    }
    std::vector<sim::SimMonitor> again;
    Check(sim::ParseState(sim::FormatState(monitors), again, error), "formatted state refused");
    Check(sim::FormatState(again) == sim::FormatState(monitors), "state does not round-trip");
    if (monitors.size() > 4) {
        return 0;  // discovery of many monitors adds nothing but time
    }

    sim::SimBus& bus = sim::SimBus::instance();
    bus.reset();
    bus.loadMonitors(monitors);
    Check(HidLib::initialise(), "HID library");
    {
        // A hub and a USB device listed, so that monitors with their ids reach the port steps.
        SupportedIds ids = ZelHidDisplayList::productIds();
        ids.hubIds = {{0x04B3, 0x4675}};
        ids.usbDeviceIds = {{0x03EB, 0x212C}};
        ZelHidDisplayList list(sim::Walks(), ids);
        list.enumerateHid();
        list.enumerateUsb();
        std::vector<DeviceLevels> levels;
        list.getAllFirmwareLevels(levels);
        // The touch controller's WinUSB function makes it the one USB device.
        Check(levels.size() == list.hidDevices().size() + 1, "one record per device");
        for (ZelHidFlash* device : list.hidDevices()) {
            auto* video = dynamic_cast<KemoVideoFlash*>(device);
            Check(video != nullptr, "only video controllers are made from HID interfaces");
            video->readConfigBytes();
        }
    }
    return 0;
}
