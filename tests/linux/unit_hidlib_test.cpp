// The HID table over hidraw on a scripted node: one preparsed block per top-level
// collection, the serial as UTF-16 under the Windows buffer rules. Attributes, caps and
// report bytes go through the real program on the bed (bed_test).
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
        probe = std::make_unique<hidraw::HidrawNode>("/dev/hidraw-unit-test");
        ASSERT_TRUE(hidraw::OpenNode(*probe, "test"));
    }

    HidHandle handle() { return hidraw::AsHidHandle(*probe); }

    const HidFunctions& hid = HidLib::functions();
    fakehid::Node node;
    fakehid::Install install{node};
    std::unique_ptr<hidraw::HidrawNode> probe;
};

TEST_F(HidLibTest, OneCollectionPerPreparsedBlock) {
    EXPECT_EQ(probe->sysname, "hidraw-unit-test");
    ASSERT_TRUE(hidraw::LoadDescriptor(*probe, "test"));
    const size_t count = probe->descriptor->collections.size();
    ASSERT_EQ(count, 3u);

    const uint16_t pages[] = {0x0001, 0x000C, 0xFF00};
    std::vector<HidPreparsedData> blocks;
    for (size_t c = 0; c < count; ++c) {
        probe->collection = c;
        HidPreparsedData preparsed = nullptr;
        ASSERT_TRUE(hid.HidD_GetPreparsedData(handle(), &preparsed));
        blocks.push_back(preparsed);
    }
    // Each block keeps its collection whatever the handle does afterwards.
    probe.reset();
    for (size_t c = 0; c < count; ++c) {
        HidCaps caps;
        ASSERT_EQ(hid.HidP_GetCaps(blocks[c], &caps), kHidpStatusSuccess);
        EXPECT_EQ(caps.UsagePage, pages[c]);
    }
    for (HidPreparsedData block : blocks) {
        EXPECT_TRUE(hid.HidD_FreePreparsedData(block));
    }
    // Freed, or never handed out: refused, not followed.
    HidCaps caps;
    EXPECT_EQ(hid.HidP_GetCaps(blocks[0], &caps), kHidpStatusInvalidPreparsedData);
    EXPECT_FALSE(hid.HidD_FreePreparsedData(blocks[0]));
    HidValueCaps values[1];
    uint16_t length = 1;
    int notABlock = 0;
    EXPECT_EQ(hid.HidP_GetValueCaps(kHidpInput, values, &length, &notABlock),
              kHidpStatusInvalidPreparsedData);
}

// A descriptor that cannot be parsed is the bed's broken touch controller (BedWalks).
TEST_F(HidLibTest, NoBlockBeyondTheCollectionsAndNoProbeOfAMissingNode) {
    probe->collection = 5;  // beyond the descriptor's collections
    node.descriptor = descriptors::kMonitor;
    HidPreparsedData preparsed = nullptr;
    EXPECT_FALSE(hid.HidD_GetPreparsedData(handle(), &preparsed));

    // A node that cannot be opened says why.
    node.openError = ENOENT;
    errno = 0;
    hidraw::HidrawNode missing("/dev/hidraw99");
    EXPECT_FALSE(hidraw::OpenNode(missing, "test"));
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(HidLibTest, SerialAsUtf16WithTheWindowsBufferRules) {
    node.unique = "SN\xC3\xBC\xF0\x9F\x98\x80";  // "SNü😀"
    uint8_t buffer[256];
    std::memset(buffer, 0xEE, sizeof buffer);
    ASSERT_TRUE(hid.HidD_GetSerialNumberString(handle(), buffer, 256));
    const uint8_t expected[] = {'S', 0, 'N', 0, 0xFC, 0, 0x3D, 0xD8, 0x00, 0xDE, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + sizeof expected),
              std::vector<uint8_t>(std::begin(expected), std::end(expected)));
    EXPECT_EQ(buffer[sizeof expected], 0xEE);

    // The whole string and its terminator fit, or nothing is written.
    std::memset(buffer, 0xEE, sizeof buffer);
    EXPECT_FALSE(hid.HidD_GetSerialNumberString(handle(), buffer, 11));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_TRUE(hid.HidD_GetSerialNumberString(handle(), buffer, 12));
}

// Not used by the program on Linux (it writes the node), but part of the table.
TEST_F(HidLibTest, OutputReportByIoctlAndInputBuffersAccepted) {
    uint8_t output[4] = {0x02, 1, 2, 3};
    ASSERT_TRUE(hid.HidD_SetOutputReport(handle(), output, 4));
    EXPECT_EQ(node.outputReports, (std::vector<std::vector<uint8_t>>{{0x02, 1, 2, 3}}));
    EXPECT_TRUE(hid.HidD_SetNumInputBuffers(handle(), 128));
}

// What the walk gives from sysfs (bus, ids, descriptor) is answered without opening the
// node; a question only the device can answer opens it then.
TEST_F(HidLibTest, AProbeFromSysfsOpensTheNodeOnlyWhenAsked) {
    hidraw::HidrawNode walked;
    walked.devnode = "/dev/hidraw-unit-test";
    walked.sysname = "hidraw-unit-test";
    walked.openOnDemand = true;
    walked.identityKnown = true;
    walked.bus = 0x05;
    walked.vendor = 0x04E7;
    walked.product = 0x0030;
    ASSERT_TRUE(hidraw::LoadDescriptor(*probe, "test"));  // the composite's, parsed
    walked.descriptor = probe->descriptor;
    const int opens = node.opens;
    walked.collection = 2;
    HidPreparsedData preparsed = nullptr;
    ASSERT_TRUE(hid.HidD_GetPreparsedData(hidraw::AsHidHandle(walked), &preparsed));
    HidCaps caps;
    ASSERT_EQ(hid.HidP_GetCaps(preparsed, &caps), kHidpStatusSuccess);
    EXPECT_EQ(caps.UsagePage, 0xFF00);
    EXPECT_TRUE(hid.HidD_FreePreparsedData(preparsed));
    HidAttributes attributes{};
    ASSERT_TRUE(hid.HidD_GetAttributes(hidraw::AsHidHandle(walked), &attributes));
    EXPECT_EQ(attributes.VendorID, 0x04E7);
    EXPECT_EQ(attributes.ProductID, 0x0030);
    EXPECT_EQ(attributes.VersionNumber, 0);  // not on USB
    EXPECT_EQ(node.opens, opens);
    EXPECT_FALSE(walked.fd.held());

    // The feature report of collection 3 is numbered 3: asked for, the node is opened.
    uint8_t feature[64] = {3};
    node.featureAnswer = {3, 1, 2};
    EXPECT_TRUE(hid.HidD_GetFeature(hidraw::AsHidHandle(walked), feature, 64));
    EXPECT_EQ(node.opens, opens + 1);
    EXPECT_TRUE(walked.fd.held());
    EXPECT_EQ(node.featureRequests, 1);
}

TEST(CollectionPath, OneNodeOneCollectionOrEachMarked) {
    EXPECT_EQ(hidraw::CollectionPath("/dev/hidraw3", 0, 1), L"/dev/hidraw3");
    EXPECT_EQ(hidraw::CollectionPath("/dev/hidraw3", 0, 2), L"/dev/hidraw3&col01");
    EXPECT_EQ(hidraw::CollectionPath("/dev/hidraw3", 11, 12), L"/dev/hidraw3&col12");
    const struct {
        const char* path;
        const char* devnode;
        size_t collection;
    } cases[] = {
        {"/dev/hidraw3", "/dev/hidraw3", 0},
        {"/dev/hidraw3&col01", "/dev/hidraw3", 0},
        {"/dev/hidraw3&col12", "/dev/hidraw3", 11},
        {"/dev/hidraw3&col123", "/dev/hidraw3", 122},
        {"/dev/hidraw3&col00", "/dev/hidraw3&col00", 0},  // no such mark: part of the name
        {"/dev/hidraw3&col1", "/dev/hidraw3&col1", 0},
        {"/dev/hidraw3&colx1", "/dev/hidraw3&colx1", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::string devnode;
        size_t collection = 99;
        hidraw::SplitCollectionPath(c.path, devnode, collection);
        EXPECT_EQ(devnode, c.devnode);
        EXPECT_EQ(collection, c.collection);
    }
}

TEST(Utf8ToUtf16, DecodesAndReplacesWhatIsMalformed) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"", u""},
        {"0001A7", u"0001A7"},
        {"\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
        {"\xE2\x82\xAC", u"\u20AC"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
        {"a\xC3", u"a\uFFFD"},                              // cut short
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // a surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
        {"\xFF"
         "x",
         u"\uFFFDx"},
        {"\xE2\x28\xA1", u"\uFFFD(\uFFFD"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(hidraw::Utf8ToUtf16(in), out) << in;
    }
}

}  // namespace
