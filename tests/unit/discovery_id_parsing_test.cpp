#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/DeviceIdParsing.h"

namespace {

struct IdCase {
    const char* name;
    std::wstring secondField;  // the ids field; the rest of the text is built around it
    bool ok;
    uint16_t vid;
    uint16_t pid;
};

// Both variants agree on these second fields.
const std::vector<IdCase> kCommonCases = {
    {"lower case as the platform reports it", L"vid_04b3&pid_4675", true, 0x04B3, 0x4675},
    {"upper case", L"VID_04B3&PID_4675", true, 0x04B3, 0x4675},
    {"mixed case", L"Vid_0f66&Pid_302c", true, 0x0F66, 0x302C},
    {"reading stops at a non-hex digit", L"VID_12G4&PID_1234", true, 0x0012, 0x1234},
    {"0x prefix accepted", L"VID_0x04B3&PID_0X4675", true, 0x04B3, 0x4675},
    {"leading blanks skipped", L"VID_ 04B3&PID_\t4675", true, 0x04B3, 0x4675},
    {"only the low 16 bits are kept", L"VID_104B3&PID_4675", true, 0x04B3, 0x4675},
    {"composite function id has three pieces", L"VID_0F66&PID_302C&MI_00", false, 0, 0},
    {"vendor id zero", L"VID_0000&PID_1234", false, 0, 0},
    {"product id zero", L"VID_1234&PID_0000", false, 0, 0},
    {"low 16 bits zero", L"VID_10000&PID_1234", false, 0, 0},
    {"no digits", L"VID_&PID_1234", false, 0, 0},
    {"vendor piece splits into three", L"VID_04B3_X&PID_4675", false, 0, 0},
    {"product piece splits into three", L"VID_04B3&PID_46_75", false, 0, 0},
    {"wrong vendor prefix", L"VEN_04B3&PID_4675", false, 0, 0},
    {"wrong product prefix", L"VID_04B3&DEV_4675", false, 0, 0},
    {"ids swapped", L"PID_4675&VID_04B3", false, 0, 0},
    {"no ampersand", L"VID_04B3PID_4675", false, 0, 0},
    {"empty product piece", L"VID_04B3&", false, 0, 0},
};

std::wstring PathWith(const std::wstring& field) {
    return L"\\\\?\\usb#" + field + L"#5&2a6fb4c&0&4#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
}

std::wstring InstanceIdWith(const std::wstring& field) {
    return L"USB\\" + field + L"\\5&1F2A&0&3";
}

TEST(DeviceIdParsing, DevicePathVariant) {
    for (const IdCase& c : kCommonCases) {
        uint16_t vid = 0;
        uint16_t pid = 0;
        const bool ok = parseDevicePathVidPid(PathWith(c.secondField), vid, pid);
        ASSERT_EQ(ok, c.ok) << c.name;
        if (ok) {
            EXPECT_EQ(vid, c.vid) << c.name;
            EXPECT_EQ(pid, c.pid) << c.name;
        }
    }
}

TEST(DeviceIdParsing, InstanceIdVariant) {
    for (const IdCase& c : kCommonCases) {
        uint16_t vid = 0;
        uint16_t pid = 0;
        const bool ok = parseInstanceIdVidPid(InstanceIdWith(c.secondField), vid, pid);
        ASSERT_EQ(ok, c.ok) << c.name;
        if (ok) {
            EXPECT_EQ(vid, c.vid) << c.name;
            EXPECT_EQ(pid, c.pid) << c.name;
        }
    }
}

TEST(DeviceIdParsing, RootHubsAreRefused) {
    uint16_t vid = 0;
    uint16_t pid = 0;
    for (const std::wstring field : {L"root_hub30", L"ROOT_HUB", L"ROOT_HUB20", L"x&root_hub"}) {
        EXPECT_FALSE(parseDevicePathVidPid(PathWith(field), vid, pid));
        EXPECT_FALSE(parseInstanceIdVidPid(InstanceIdWith(field), vid, pid));
    }
}

TEST(DeviceIdParsing, FieldStructure) {
    uint16_t vid = 0;
    uint16_t pid = 0;
    // One field only, an empty second field, and the other variant's separator.
    EXPECT_FALSE(parseDevicePathVidPid(L"VID_04B3&PID_4675", vid, pid));
    EXPECT_FALSE(parseInstanceIdVidPid(L"VID_04B3&PID_4675", vid, pid));
    EXPECT_FALSE(parseDevicePathVidPid(L"\\\\?\\usb##VID_04B3&PID_4675", vid, pid));
    EXPECT_FALSE(parseInstanceIdVidPid(L"USB\\\\VID_04B3&PID_4675", vid, pid));
    EXPECT_FALSE(parseDevicePathVidPid(L"USB\\VID_04B3&PID_4675\\1", vid, pid));
    EXPECT_FALSE(parseInstanceIdVidPid(PathWith(L"VID_04B3&PID_4675"), vid, pid));
    EXPECT_FALSE(parseDevicePathVidPid(L"", vid, pid));
    // Two fields suffice.
    EXPECT_TRUE(parseInstanceIdVidPid(L"USB\\VID_04B3&PID_4675", vid, pid));
    EXPECT_EQ(vid, 0x04B3);
    EXPECT_EQ(pid, 0x4675);
}

TEST(DeviceIdParsing, SplitKeepsEmptyPieces) {
    EXPECT_EQ(split(L"a#b#c", L'#'), (std::vector<std::wstring>{L"a", L"b", L"c"}));
    EXPECT_EQ(split(L"#a##", L'#'), (std::vector<std::wstring>{L"", L"a", L"", L""}));
    EXPECT_EQ(split(L"abc", L'#'), (std::vector<std::wstring>{L"abc"}));
    EXPECT_EQ(split(L"", L'#'), (std::vector<std::wstring>{L""}));
}

}  // namespace
