// The list of monitors over the simulated walks: what it finds, where a touch interface must
// hang to count, and interfaces it cannot read.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "discovery/ZelHidDisplayList.h"
#include "hid/HidLib.h"
#include "log/Log.h"
#include "platform/Text.h"
#include "sim/SimBus.h"
#include "sim/SimWalks.h"
#include "tests/support/ConsoleAndFiles.h"

namespace {

sim::SimBus& Bus() {
    return sim::SimBus::instance();
}

int AddNode(const wchar_t* id, const wchar_t* description, int parent) {
    sim::SimNode& node = Bus().nodes.emplace_back();
    node.instanceId = id;
    node.description = description;
    node.parent = parent;
    return static_cast<int>(Bus().nodes.size()) - 1;
}

const char kFound[] =
    "Debug\tZelHidDisplayList::enumerateHid - found supported flash chip - vid=0x";

// A fresh bus per case, everything logged to a file of its own.
class ListTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved = GetLogSettings();
        GetLogSettings().level = LogTrace;
        GetLogSettings().fileName = dir.file("discovery.log");
        Fresh();
        ASSERT_TRUE(HidLib::initialise());
    }
    void TearDown() override {
        CloseLogHandler();
        GetLogSettings() = saved;
        Bus().reset();
    }
    void Fresh(bool defaultBus = true) {
        CloseLogHandler();
        std::remove(dir.file("discovery.log").c_str());
        defaultBus ? Bus().loadDefault() : Bus().reset();
    }
    size_t Count(const std::string& part) {
        CloseLogHandler();  // the next log call appends to the same file
        const std::string text = ReadFileBytes(dir.file("discovery.log"));
        size_t n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
            ++n;
        }
        return n;
    }
    // Both walks as the program runs them; the serials of the records, after the list went.
    std::vector<std::wstring> Discover(const SupportedIds& ids = ZelHidDisplayList::productIds()) {
        std::vector<DeviceLevels> levels;
        {
            ZelHidDisplayList list(sim::Walks(), ids);
            EXPECT_TRUE(list.enumerateHid());
            EXPECT_TRUE(list.enumerateUsb());
            list.getAllFirmwareLevels(levels);
        }
        EXPECT_TRUE(Bus().preparsed.empty());  // nothing taken during the walks is kept
        EXPECT_EQ(Bus().openHandles, 0);
        std::vector<std::wstring> serials;
        for (const DeviceLevels& record : levels) {
            serials.push_back(record.serial);
        }
        return serials;
    }

    TempDir dir;
    CLogSettings saved;
};

// A 0x04E7:0x0030 interface counts only below the hub 0x04B3:0x4675 (both ids); any other
// interface counts wherever it hangs. The table lists 0x04E7:0x0030 as no product entry does.
TEST_F(ListTest, HubPlacement) {
    const struct {
        uint16_t vid, pid;
        const wchar_t *parentId, *parentDescription;
        size_t added;
    } cases[] = {
        {0x04E7, 0x0030, L"USB\\VID_04B3&PID_4675\\6&1", L"Generic USB Hub", 1},
        {0x04E7, 0x0030, L"USB\\VID_04B3&PID_4674\\6&1", L"Generic USB Hub", 0},
        {0x04E7, 0x0030, L"USB\\VID_04B2&PID_4675\\6&1", L"Generic USB Hub", 0},
        {0x04E7, 0x0030, L"USB\\ROOT_HUB30\\5&1", L"USB Root Hub", 0},  // a hub without ids
        {0x04E7, 0x0030, L"PCI\\VEN_1B21&DEV_1242\\4&1", L"USB Host Controller", 0},  // none
        {0x0F66, 0x302C, L"USB\\VID_05E3&PID_0610\\6&1", L"USB Hub", 1},
    };
    SupportedIds ids;
    ids.hidInterfaceIds = {{0x04E7, 0x0030, 0x000D, 0x0004}, {0x0F66, 0x302C, 0x000D, 0x0004}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.parentId));
        Fresh(false);
        const int controller = AddNode(L"PCI\\VEN_8086&DEV_A36D\\3&1", L"USB Controller", -1);
        const int hub = AddNode(c.parentId, c.parentDescription, controller);
        Bus().interfaces.push_back(
            {.path = L"\\\\?\\hid#vid_04e7&pid_0030#7&1",
             .vid = c.vid,
             .pid = c.pid,
             .usagePage = 0x000D,
             .usage = 0x0004,
             .parentNode = AddNode(L"HID\\VID_04E7&PID_0030\\7&1", L"HID touch screen", hub)});
        EXPECT_TRUE(Discover(ids).empty());  // no object for it in any case
        EXPECT_EQ(Count("found supported flash chip"), 1u);
        EXPECT_EQ(Count("Debug\tZelHidDisplayList::addZelHidFlash\r\n"), c.added);
    }
}

// Both monitors in bus order; the touch gets no object. An interface whose preparsed data,
// attributes or capabilities cannot be read is passed over without a line.
TEST_F(ListTest, DefaultBusAndUnreadableInterfaces) {
    EXPECT_EQ(Discover(), (std::vector<std::wstring>{L"41-A0001", L"41-A0002"}));
    EXPECT_EQ(Count(std::string(kFound) + "0f66, pid=0x302c, usage page=0xff45, usage=0xa000"), 2u);
    EXPECT_EQ(Count(std::string(kFound) + "03eb, pid=0x212c, usage page=0xff00, usage=0x0001"), 1u);
    for (const auto spoil : {&sim::SimInterface::preparsedDataFails,
                             &sim::SimInterface::attributesFail, &sim::SimInterface::capsFail}) {
        Fresh();
        Bus().interfaces[static_cast<size_t>(Bus().monitorInterface(0))].*spoil = true;
        EXPECT_EQ(Discover(), std::vector<std::wstring>{L"41-A0002"});
        EXPECT_EQ(Count("found supported flash chip"), 2u);  // the touch, the other monitor
        EXPECT_EQ(Count("enumerateHid - CreateFile"), 0u);
    }
}

}  // namespace
