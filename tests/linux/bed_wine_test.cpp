// The Windows program's walks on the emulated machine, through Wine's own HID stack: Wine's
// udev bus turns the emulated hidraw nodes into HID devices, and the real SetupAPI walk and
// hid.dll run over them. A small Windows helper (bed_winprobe.exe) then lists what Wine
// reports for each device.
//
// The run cannot go further than the walk: Wine 8's HID class driver does not implement
// IOCTL_HID_FLUSH_QUEUE ("Unsupported ioctl 0xb0197" in its trace), so the first
// HidD_FlushQueue of a monitor's channel fails with error 0x32 (ERROR_NOT_SUPPORTED) and
// the monitor gets no device object. What the walks find, skip and read up to there is
// what this test checks. Wine's bus reads every node in a loop (each read answered EAGAIN
// on the bed), so the test stays short.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/SimBus.h"
#include "tests/linux/bed_Machine.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/RunProcess.h"

namespace {

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

class WineOnBed : public ::testing::Test {
protected:
    void SetUp() override {
        for (const std::string& program : {exe, probe}) {
            if (!FileExists(program)) {
                GTEST_SKIP() << "no " << program << " (build the windows preset first)";
            }
        }
        if (!FileExists("/usr/bin/wine") || !FileExists("/usr/bin/wineserver")) {
            GTEST_SKIP() << "Wine is not installed";
        }
    }
    void TearDown() override { Server("-k"); }

    ProcessResult Wine(const std::vector<std::string>& arguments) {
        return RunProcess("/usr/bin/wine", arguments, prefix.path());
    }
    void Server(const char* option) { RunProcess("/usr/bin/wineserver", {option}, prefix.path()); }

    const std::string exe = MARVANE_WINDOWS_BUILD_DIR "/bin/marvanecfgutil.exe";
    const std::string probe = MARVANE_WINDOWS_BUILD_DIR "/bin/bed_winprobe.exe";
    TempDir prefix;
    // Wine's settings for every program started here, set before the bed's threads run.
    const bool environment = [this] {
        for (const auto& [name, value] :
             {std::pair<const char*, std::string>{"WINEPREFIX", prefix.path()},
              {"WINEDEBUG", "-all"},
              {"WINEDLLOVERRIDES", "mscoree,mshtml="},
              {"DISPLAY", ""},
              {"WAYLAND_DISPLAY", ""}}) {
            setenv(name, value.c_str(), 1);
        }
        return true;
    }();
    bed::Machine machine{sim::DefaultMonitors()};
};

TEST_F(WineOnBed, WindowsWalksFindBothMonitorsAndSkipTheRest) {
    ASSERT_TRUE(machine.ok()) << machine.error();
    // A fresh prefix made inside the bed, with Wine's SDL bus off: otherwise Wine 8 starts
    // no udev bus and sees no HID device at all.
    ASSERT_EQ(Wine({"cmd", "/c", "exit"}).exitStatus, 0);
    ASSERT_EQ(Wine({"reg", "add", "HKLM\\System\\CurrentControlSet\\Services\\winebus", "/v",
                    "Enable SDL", "/t", "REG_DWORD", "/d", "0", "/f"})
                  .exitStatus,
              0);
    // Restart with the setting, and wait until the bus has brought up all four devices.
    Server("-k");
    Server("-p");
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
         Count(Wine({probe}).out, "\n") < 4 && std::chrono::steady_clock::now() < end;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }

    const ProcessResult r = Wine({exe, "-L", "-v"});
    const std::string& out = r.out;
    SCOPED_TRACE(out + r.err);

    // The touch interface and each monitor's first collection are found; the keyboard is
    // passed over without a line, and nothing with usage 0xa100 is found. Wine's udev bus
    // lists no USB hub interfaces, so the hub walk has nothing to say.
    const std::string found = "found supported flash chip - vid=";
    for (const auto& [text, count] : std::vector<std::pair<std::string, size_t>>{
             {found + "0x03eb, pid=0x212c, usage page=0xff00, usage=0x0001", 1},
             {found + "0x0f66, pid=0x302c, usage page=0xff45, usage=0xa000", 2},
             {found, 3},
             {"vid=0x046d", 0},
             {"usage=0xa100", 0},
             {"enumerateUsb", 0}}) {
        EXPECT_EQ(Count(out, text), count) << text;
    }
    // Each monitor's channel stops at its first flush, and no monitor is left.
    EXPECT_GE(Count(out, "HidIo::flushDeviceQueue - failed, error=0x00000032"), 2u);
    EXPECT_NE(out.find("Error: No single 7352 device is attached."), std::string::npos);
    EXPECT_EQ(r.exitStatus, 1);
    // The controller saw nothing: no report reached it before the flush.
    EXPECT_TRUE(machine.transcript().empty());

    // What Wine's HID stack reports for each node, read as the Windows walk reads it: the
    // ids, the first collection's usage and report lengths, the output value capabilities
    // (report id, usage, count) and the serial. Wine 8 takes neither bcdDevice as the
    // version (0000) nor a serial for devices without one ("0000"); it lists only the first
    // collection of a node, so the second collection never reaches the walk; and its HID
    // devices have no parent the configuration manager can return, so under Wine the hub
    // placement rule would find no hub.
    ProcessResult p = Wine({probe});
    EXPECT_EQ(p.exitStatus, 0);
    std::erase(p.out, '\r');  // Wine's console ends lines in "\r\n"
    for (const char* line : {
             "03eb:212c v0000 ff00:0001 in=9 out=0 feature=0 outvalues=0 serial=0000 parent=-\n",
             "046d:c31c v0000 0001:0006 in=9 out=2 feature=0 outvalues=0 serial=0000 parent=-\n",
             "0f66:302c v0000 ff45:a000 in=9 out=264 feature=128 outvalues=1 01:a001:263 "
             "serial=41-A0001 parent=-\n",
             "0f66:302c v0000 ff45:a000 in=9 out=264 feature=128 outvalues=1 01:a001:263 "
             "serial=41-A0002 parent=-\n",
         }) {
        EXPECT_EQ(Count(p.out, line), 1u) << line << p.out;
    }
    EXPECT_EQ(Count(p.out, "0f66:302c"), 2u) << p.out;
    EXPECT_EQ(Count(p.out, "ff45:a100"), 0u) << p.out;
}

}  // namespace
