// The HID table over hidraw on a scripted node, for what whole runs on the bed do not show:
// blocks that outlive their node and pointers never handed out, the Windows buffer rule of
// the serial, malformed UTF-8, and node names that only look like a collection's path.
#include <gtest/gtest.h>

#include <cerrno>

#include "hid/HidLib.h"
#include "hid/linux/HidrawNode.h"
#include "tests/linux/unit_FakeHidraw.h"
#include "tests/support/Descriptors.h"

namespace {

TEST(HidLibLinux, BlocksAndSerials) {
    fakehid::Node node;
    node.descriptor = descriptors::kComposite;
    node.unique = "SN\xC3\xBC\xF0\x9F\x98\x80";  // "SNü😀"
    fakehid::Install install(node);
    ASSERT_TRUE(HidLib::initialise());
    const HidFunctions& hid = HidLib::functions();
    auto opened = std::make_unique<hidraw::HidrawNode>("/dev/hidraw-unit-test");
    ASSERT_TRUE(hidraw::OpenNode(*opened, "test"));

    // The whole serial and its terminator fit, or nothing is written.
    uint8_t buffer[14];
    std::memset(buffer, 0xEE, sizeof buffer);
    EXPECT_FALSE(hid.HidD_GetSerialNumberString(opened.get(), buffer, 11));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(buffer[0], 0xEE);
    ASSERT_TRUE(hid.HidD_GetSerialNumberString(opened.get(), buffer, 12));
    const uint8_t expected[] = {'S', 0, 'N', 0, 0xFC, 0, 0x3D, 0xD8, 0x00, 0xDE, 0, 0, 0xEE};
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 13),
              std::vector<uint8_t>(std::begin(expected), std::end(expected)));

    opened->collection = 2;
    HidPreparsedData preparsed = nullptr;
    ASSERT_TRUE(hid.HidD_GetPreparsedData(opened.get(), &preparsed));
    opened->collection = 3;  // beyond the descriptor's collections
    HidPreparsedData beyond = nullptr;
    EXPECT_FALSE(hid.HidD_GetPreparsedData(opened.get(), &beyond));
    opened.reset();
    HidCaps caps;
    ASSERT_EQ(hid.HidP_GetCaps(preparsed, &caps), kHidpStatusSuccess);
    EXPECT_EQ(caps.UsagePage, 0xFF00);
    EXPECT_TRUE(hid.HidD_FreePreparsedData(preparsed));
    EXPECT_EQ(hid.HidP_GetCaps(preparsed, &caps), kHidpStatusInvalidPreparsedData);
    EXPECT_FALSE(hid.HidD_FreePreparsedData(preparsed));
    int notABlock = 0;
    EXPECT_EQ(hid.HidP_GetCaps(&notABlock, &caps), kHidpStatusInvalidPreparsedData);

}

TEST(HidLibLinux, CollectionPaths) {
    EXPECT_EQ(hidraw::CollectionPath("/dev/hidraw3", 0, 1), L"/dev/hidraw3");
    EXPECT_EQ(hidraw::CollectionPath("/dev/hidraw3", 11, 12), L"/dev/hidraw3&col12");
    const std::tuple<const char*, const char*, size_t> cases[] = {
        {"/dev/hidraw3&col01", "/dev/hidraw3", 0},
        {"/dev/hidraw3&col123", "/dev/hidraw3", 122},
        {"/dev/hidraw3&col00", "/dev/hidraw3&col00", 0},  // no such mark: part of the name
        {"/dev/hidraw3&col1", "/dev/hidraw3&col1", 0},
        {"/dev/hidraw3&colx1", "/dev/hidraw3&colx1", 0},
    };
    for (const auto& [path, devnode, collection] : cases) {
        std::string gotNode;
        size_t got = 99;
        hidraw::SplitCollectionPath(path, gotNode, got);
        EXPECT_EQ(gotNode, devnode) << path;
        EXPECT_EQ(got, collection) << path;
    }
}

}  // namespace
