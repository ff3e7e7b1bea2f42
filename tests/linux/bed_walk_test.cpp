// The bed itself, seen by a plain hidraw program, and the walks of the Linux program on it.
#include <gtest/gtest.h>

#include "tests/linux/bed_Machine.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/RunProcess.h"

namespace {

TEST(Bed, LibudevSeesTheLayoutAndTheNodesAnswer) {
    bed::Machine machine(sim::DefaultMonitors());
    ASSERT_TRUE(machine.ok()) << machine.error();
    TempDir dir;
    const bed::RunResult r = machine.run(BuiltProgram("bed_probe"), {}, dir.path());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    // Parents found by path (umockdev makes no device links), serials in both places, the
    // descriptors through the ioctls, and an idle node answering reads with EAGAIN.
    const char* expected =
        "/dev/hidraw0 hid=0003:0000046D:0000C31C uniq= usb=046d:c31c v6400 serial=- "
        "hub=1d6b:0002 class=09 placed=1d6b:0002 info=0:046d:c31c rdesc=0/63:05..c0 uniq=1: "
        "read=-1/Resource temporarily unavailable\n"
        "/dev/hidraw1 hid=0003:000003EB:0000212C uniq= usb=03eb:212c v0100 serial=- "
        "hub=04b3:4675 class=09 placed=04b3:4675 info=0:03eb:212c rdesc=0/21:06..c0 uniq=1: "
        "read=-1/Resource temporarily unavailable\n"
        "/dev/hidraw2 hid=0003:00000F66:0000302C uniq=41-A0001 usb=0f66:302c v0100 "
        "serial=41-A0001 hub=04b3:4675 class=09 placed=04b3:4675 info=0:0f66:302c "
        "rdesc=0/69:06..c0 "
        "uniq=9:41-A0001 read=-1/Resource temporarily unavailable\n"
        "/dev/hidraw3 hid=0003:00000F66:0000302C uniq=41-A0002 usb=0f66:302c v0100 "
        "serial=41-A0002 hub=04b3:4675 class=09 placed=04b3:4675 info=0:0f66:302c "
        "rdesc=0/44:06..c0 "
        "uniq=9:41-A0002 read=-1/Resource temporarily unavailable\n";
    EXPECT_EQ(r.out, expected) << r.err;
}

// A uhid device: no USB device, so no hub above it, and its node still answers.
TEST(Bed, AVirtualDeviceHasNoUsbParent) {
    bed::Extras extras;
    extras.virtualKeyboard = true;
    bed::Machine machine({}, extras);
    ASSERT_TRUE(machine.ok()) << machine.error();
    TempDir dir;
    const bed::RunResult r = machine.run(BuiltProgram("bed_probe"), {}, dir.path());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("/dev/hidraw0 hid=0003:0000046D"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("/dev/hidraw2 hid=0006:00001234:00005678 uniq= usb=-:- v- serial=- "
                         "hub=-:- class=- placed=none info=0:1234:5678 rdesc=0/63:05..c0"),
              std::string::npos)
        << r.out;
}

}  // namespace
