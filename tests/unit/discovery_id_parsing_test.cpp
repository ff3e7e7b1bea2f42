#include <gtest/gtest.h>

#include <string>

#include "discovery/DeviceIdParsing.h"
#include "platform/Text.h"

namespace {

// Each row is the second field of a hub interface path ('#') and of an instance id ('\').
TEST(DeviceIdParsing, BothVariants) {
    const struct {
        std::wstring field;
        bool ok;
        uint16_t vid, pid;
    } cases[] = {
        {L"vid_04b3&pid_4675", true, 0x04B3, 0x4675},
        {L"VID_12G4&PID_1234", true, 0x0012, 0x1234},  // reading stops at G
        {L"VID_0x04B3&PID_0X4675", true, 0x04B3, 0x4675},
        {L"VID_104B3&PID_4675", true, 0x04B3, 0x4675},  // low 16 bits kept
        {L"VID_0F66&PID_302C&MI_00", false, 0, 0},
        {L"VID_0000&PID_1234", false, 0, 0},
        {L"VID_04B3_X&PID_4675", false, 0, 0},
        {L"", false, 0, 0},  // two separators in a row
        {L"root_hub30", false, 0, 0},
    };
    for (const auto& c : cases) {
        for (const bool path : {true, false}) {
            const std::wstring text =
                path ? L"\\\\?\\usb#" + c.field + L"#5&2a6fb4c&0&4#{f18a0e88-c30c-11d0}"
                     : L"USB\\" + c.field + L"\\5&1F2A&0&3";
            uint16_t vid = 0, pid = 0;
            const bool ok = path ? parseDevicePathVidPid(text, vid, pid)
                                 : parseInstanceIdVidPid(text, vid, pid);
            SCOPED_TRACE(Narrow(text));
            ASSERT_EQ(ok, c.ok);
            EXPECT_EQ(ok ? vid : 0, c.vid);
            EXPECT_EQ(ok ? pid : 0, c.pid);
        }
    }
    uint16_t id = 0;  // one field only: the other variant's separator
    EXPECT_FALSE(parseDevicePathVidPid(L"USB\\VID_04B3&PID_4675\\1", id, id));
    EXPECT_FALSE(parseInstanceIdVidPid(L"\\\\?\\usb#VID_04B3&PID_4675#1", id, id));
}

}  // namespace
