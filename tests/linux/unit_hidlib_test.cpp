// The HID table over hidraw on a scripted node: one preparsed block per top-level
// collection, a node the walk made opened only when asked, the serial as UTF-16 under the
// Windows buffer rules. Attributes, caps and report bytes go through the real program on the
// bed (bed_test).
#include <gtest/gtest.h>

#include <cerrno>

#include "hid/HidLib.h"
#include "hid/ReportDescriptor.h"
#include "hid/linux/HidrawNode.h"
#include "hid/linux/Utf8.h"
#include "tests/linux/unit_FakeHidraw.h"
#include "tests/support/Descriptors.h"

namespace {

class HidLibTest : public ::testing::Test {
protected:
    void SetUp() override {
        node.descriptor = descriptors::kComposite;
        ASSERT_TRUE(HidLib::initialise());
        // No such node in sysfs: udev lookups fail and the ioctls answer.
        ASSERT_TRUE(hidraw::OpenNode(opened, "test"));
    }

    const HidFunctions& hid = HidLib::functions();
    fakehid::Node node;
    fakehid::Install install{node};
    hidraw::HidrawNode opened{"/dev/hidraw-unit-test"};
};

// A node the walk made from sysfs answers what sysfs gave without opening the node; each
// block keeps its collection whatever happens to the node afterwards; a freed block, or a
// pointer never handed out, is refused rather than followed.
TEST_F(HidLibTest, OneBlockPerCollectionWithoutOpeningTheNode) {
    ASSERT_TRUE(hidraw::LoadDescriptor(opened, "test"));
    auto walked = std::make_unique<hidraw::HidrawNode>("/dev/hidraw-unit-test");
    EXPECT_EQ(walked->sysname, "hidraw-unit-test");
    walked->openOnDemand = walked->identityKnown = true;
    walked->bus = 0x05;
    walked->vendor = 0x04E7;
    walked->descriptor = opened.descriptor;
    const int opens = node.opens;

    const uint16_t pages[] = {0x0001, 0x000C, 0xFF00};
    std::vector<HidPreparsedData> blocks;
    for (size_t c = 0; c < 4; ++c) {
        walked->collection = c;
        HidPreparsedData preparsed = nullptr;
        EXPECT_EQ(hid.HidD_GetPreparsedData(walked.get(), &preparsed), c < 3);
        if (c < 3) {
            blocks.push_back(preparsed);
        }
    }
    HidAttributes attributes{};
    ASSERT_TRUE(hid.HidD_GetAttributes(walked.get(), &attributes));
    EXPECT_EQ(attributes.VendorID, 0x04E7);
    EXPECT_EQ(attributes.VersionNumber, 0);  // not on USB
    EXPECT_EQ(node.opens, opens);

    // The feature report of collection 3 is numbered 3: asked for, the node is opened.
    walked->collection = 2;
    uint8_t feature[64] = {3};
    node.featureAnswer = {3, 1, 2};
    EXPECT_TRUE(hid.HidD_GetFeature(walked.get(), feature, 64));
    EXPECT_EQ(node.opens, opens + 1);

    walked.reset();
    for (size_t c = 0; c < blocks.size(); ++c) {
        HidCaps caps;
        ASSERT_EQ(hid.HidP_GetCaps(blocks[c], &caps), kHidpStatusSuccess);
        EXPECT_EQ(caps.UsagePage, pages[c]);
        EXPECT_TRUE(hid.HidD_FreePreparsedData(blocks[c]));
    }
    HidCaps caps;
    EXPECT_EQ(hid.HidP_GetCaps(blocks[0], &caps), kHidpStatusInvalidPreparsedData);
    EXPECT_FALSE(hid.HidD_FreePreparsedData(blocks[0]));
    int notABlock = 0;
    EXPECT_EQ(hid.HidP_GetCaps(&notABlock, &caps), kHidpStatusInvalidPreparsedData);
}

TEST_F(HidLibTest, SerialAsUtf16WithTheWindowsBufferRules) {
    node.unique = "SN\xC3\xBC\xF0\x9F\x98\x80";  // "SNü😀"
    uint8_t buffer[256];
    std::memset(buffer, 0xEE, sizeof buffer);
    ASSERT_TRUE(hid.HidD_GetSerialNumberString(&opened, buffer, 256));
    const uint8_t expected[] = {'S', 0, 'N', 0, 0xFC, 0, 0x3D, 0xD8, 0x00, 0xDE, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + sizeof expected),
              std::vector<uint8_t>(std::begin(expected), std::end(expected)));
    EXPECT_EQ(buffer[sizeof expected], 0xEE);

    // The whole string and its terminator fit, or nothing is written.
    std::memset(buffer, 0xEE, sizeof buffer);
    EXPECT_FALSE(hid.HidD_GetSerialNumberString(&opened, buffer, 11));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_TRUE(hid.HidD_GetSerialNumberString(&opened, buffer, 12));

    // Malformed UTF-8 becomes replacement characters, one per byte that does not fit.
    EXPECT_EQ(hidraw::Utf8ToUtf16("a\xC3"), u"a\uFFFD");                    // cut short
    EXPECT_EQ(hidraw::Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong
    EXPECT_EQ(hidraw::Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // a surrogate
    EXPECT_EQ(hidraw::Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(hidraw::Utf8ToUtf16("\xE2\x28\xA1"), u"\uFFFD(\uFFFD");
}

TEST(CollectionPath, OneNodeOneCollectionOrEachMarked) {
    EXPECT_EQ(hidraw::CollectionPath("/dev/hidraw3", 0, 1), L"/dev/hidraw3");
    EXPECT_EQ(hidraw::CollectionPath("/dev/hidraw3", 11, 12), L"/dev/hidraw3&col12");
    const struct {
        const char* path;
        const char* devnode;
        size_t collection;
    } cases[] = {
        {"/dev/hidraw3", "/dev/hidraw3", 0},
        {"/dev/hidraw3&col01", "/dev/hidraw3", 0},
        {"/dev/hidraw3&col123", "/dev/hidraw3", 122},
        {"/dev/hidraw3&col00", "/dev/hidraw3&col00", 0},  // no such mark: part of the name
        {"/dev/hidraw3&col1", "/dev/hidraw3&col1", 0},
        {"/dev/hidraw3&colx1", "/dev/hidraw3&colx1", 0},
    };
    for (const auto& c : cases) {
        std::string devnode;
        size_t collection = 99;
        hidraw::SplitCollectionPath(c.path, devnode, collection);
        EXPECT_EQ(devnode, c.devnode) << c.path;
        EXPECT_EQ(collection, c.collection) << c.path;
    }
}

}  // namespace
