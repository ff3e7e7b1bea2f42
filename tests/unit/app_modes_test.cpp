// The run modes over test doubles of the HID flash device: order, serial matching, what is
// printed and the exit status.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/Driver.h"
#include "log/Log.h"
#include "platform/Text.h"
#include "tests/support/CaptureStdout.h"

namespace {

// A device that answers from its fields and writes every call into a shared journal.
class FakeFlash : public ZelHidFlash {
public:
    FakeFlash(std::vector<std::string>& sharedJournal, std::wstring serialNumber,
              bool answersTrue = true)
        : journal(sharedJournal), succeeds(answersTrue) {
        serial = std::move(serialNumber);
        components = {
            {L"MCU", 0x0102}, {L"HW_CFG", 0x0001}, {L"SCALAR", 0x1a2b}, {L"CAPSENSE", 0xffff}};
    }

    bool initialise(HidHandle, HidPreparsedData, std::wstring) override { return true; }
    bool getFirmwareLevels(DeviceLevels& record) override {
        record.vid = 0x0F66;
        record.pid = 0x302C;
        record.serial = serial;
        // Appends, as the real devices do: a reused record would show doubled lines.
        record.components.insert(record.components.end(), components.begin(), components.end());
        return true;
    }
    bool updateDevice(std::wstring iniPath) override {
        journal.push_back("update " + Narrow(serial) + " " + Narrow(iniPath));
        return succeeds;
    }
    bool saveCurrentConfig(std::wstring iniPath) override {
        journal.push_back("save " + Narrow(serial) + " " + Narrow(iniPath));
        return succeeds;
    }
    bool saveDefaultConfig(std::wstring iniPath) override {
        journal.push_back("default " + Narrow(iniPath));
        return succeeds;
    }

    std::vector<ComponentLevel> components;

private:
    std::vector<std::string>& journal;
    bool succeeds;
};

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class ModesTest : public ::testing::Test {
protected:
    void SetUp() override {
        CloseLogHandler();
        GetLogSettings() = CLogSettings{};
        VerboseFlag() = 0;
    }
    void TearDown() override { SetUp(); }

    FakeFlash& Add(const wchar_t* serial, bool succeeds = true) {
        owned.push_back(std::make_unique<FakeFlash>(journal, serial, succeeds));
        devices.push_back(owned.back().get());
        return *owned.back();
    }

    template <typename Mode>
    Outcome Run(Mode mode) {
        CaptureOutput capture;
        Outcome outcome;
        outcome.status = mode();
        outcome.out = capture.out();
        outcome.err = capture.err();
        return outcome;
    }

    std::vector<std::string> journal;
    std::vector<std::unique_ptr<FakeFlash>> owned;
    std::vector<ZelHidFlash*> devices;
};

TEST_F(ModesTest, ListPrintsEveryDeviceInDiscoveryOrder) {
    Add(L"41-AAAAA");
    Add(L"41-BBBBB").components = {{L"MCU", 0x0a0b}};
    Add(L"").components.clear();
    const Outcome outcome = Run([&] { return ListDevices(devices); });
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out,
              "Device: 0f66:302c  serial/id=41-AAAAA\n"
              "  Firmware Levels:\n"
              "   MCU=0102\n"
              "   HW_CFG=0001\n"
              "   SCALAR=1a2b\n"
              "   CAPSENSE=ffff\n"
              "\n"
              "Device: 0f66:302c  serial/id=41-BBBBB\n"
              "  Firmware Level:\n"
              "   MCU=0a0b\n"
              "\n"
              "Device: 0f66:302c  serial/id=\n"
              "  Firmware Level:\n"
              "\n");
    EXPECT_EQ(outcome.err, "");
}

TEST_F(ModesTest, VerboseModesEchoTheirLogLineFirst) {
    Add(L"41-AAAAA");
    VerboseFlag() = 1;
    const Outcome list = Run([&] { return ListDevices(devices); });
    EXPECT_EQ(list.out.rfind("Showing HW Configuration of all monitors attached\nDevice: ", 0), 0u)
        << list.out;
    const Outcome update = Run([&] { return UpdateFromIni(devices, "cfg.ini", ""); });
    EXPECT_EQ(update.out, "Updating device(s) using \"cfg.ini\" file.\n");
    EXPECT_EQ(update.status, 0);
}

TEST_F(ModesTest, FindSerialComparesWholeStringsCaseSensitively) {
    Add(L"41-AAAAA");
    Add(L"41-BBBBB");
    const struct {
        const wchar_t* serial;
        bool found;
    } cases[] = {
        {L"41-AAAAA", true},   {L"41-BBBBB", true},   {L"41-aaaaa", false},  {L"41-AAAA", false},
        {L"41-AAAAAA", false}, {L"41-AAAAA ", false}, {L" 41-AAAAA", false}, {L"41", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.serial));
        EXPECT_EQ(FindSerial(devices, c.serial), c.found);
    }
    EXPECT_TRUE(journal.empty());
}

TEST_F(ModesTest, WriteCurrentWritesOneFileFromTheFirstOrTheNamedDevice) {
    const struct {
        const char* serial;
        const char* saved;
    } cases[] = {
        {"", "save 41-AAAAA cur.ini"},
        {"41-BBBBB", "save 41-BBBBB cur.ini"},
    };
    Add(L"41-AAAAA");
    Add(L"41-BBBBB");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.serial);
        journal.clear();
        const Outcome outcome = Run([&] { return WriteCurrentIni(devices, "cur.ini", c.serial); });
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(journal, std::vector<std::string>{c.saved});
        EXPECT_EQ(outcome.out,
                  "Creating INI file from current configuration\n"
                  "Check the generated \"cur.ini\" file.\n");
        EXPECT_EQ(outcome.err, "");
    }
}

TEST_F(ModesTest, UnknownSerialIsRefusedOnStandardErrorWithNothingDone) {
    Add(L"41-AAAAA");
    Add(L"41-BBBBB");
    const char* const kUnknown = "Error: Unknown serial number. Please try again.\n";
    const char* const serial = "41-aaaaa";  // differs in case only

    const Outcome save = Run([&] { return WriteCurrentIni(devices, "cur.ini", serial); });
    EXPECT_EQ(save.status, 1);
    EXPECT_EQ(save.out, "Creating INI file from current configuration\n");
    EXPECT_EQ(save.err, kUnknown);

    const Outcome update = Run([&] { return UpdateFromIni(devices, "cfg.ini", serial); });
    EXPECT_EQ(update.status, 1);
    EXPECT_EQ(update.out, "");
    EXPECT_EQ(update.err, kUnknown);
    EXPECT_TRUE(journal.empty());
}

TEST_F(ModesTest, WriteCurrentWithoutAWrittenFileEndsWithOneAndNoCheckLine) {
    const Outcome none = Run([&] { return WriteCurrentIni(devices, "cur.ini", ""); });
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "Creating INI file from current configuration\n");

    Add(L"41-AAAAA", false);
    Add(L"41-BBBBB");
    const Outcome failed = Run([&] { return WriteCurrentIni(devices, "cur.ini", ""); });
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.out, "Creating INI file from current configuration\n");
    EXPECT_EQ(journal, std::vector<std::string>{"save 41-AAAAA cur.ini"});  // not retried
}

TEST_F(ModesTest, UpdateTriesEveryDeviceAndReportsEachFailure) {
    const struct {
        bool firstSucceeds;
        bool secondSucceeds;
        const char* out;
        int status;
    } cases[] = {
        {true, true, "", 0},
        {false, true, "Error: Updating device '41-AAAAA' failed.\n", 1},
        {true, false, "Error: Updating device '41-BBBBB' failed.\n", 1},
        {false, false,
         "Error: Updating device '41-AAAAA' failed.\n"
         "Error: Updating device '41-BBBBB' failed.\n",
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        journal.clear();
        owned.clear();
        devices.clear();
        Add(L"41-AAAAA", c.firstSucceeds);
        Add(L"41-BBBBB", c.secondSucceeds);
        const Outcome outcome = Run([&] { return UpdateFromIni(devices, "cfg.ini", ""); });
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_EQ(outcome.err, "");
        EXPECT_EQ(journal,
                  (std::vector<std::string>{"update 41-AAAAA cfg.ini", "update 41-BBBBB cfg.ini"}));
    }
}

TEST_F(ModesTest, UpdateWithSerialTouchesOnlyTheFirstMatchingDevice) {
    Add(L"41-AAAAA");
    Add(L"41-BBBBB", false);
    Add(L"41-BBBBB");  // same serial again: left alone

    const Outcome good = Run([&] { return UpdateFromIni(devices, "cfg.ini", "41-AAAAA"); });
    EXPECT_EQ(good.status, 0);
    EXPECT_EQ(good.out, "");
    EXPECT_EQ(journal, std::vector<std::string>{"update 41-AAAAA cfg.ini"});

    journal.clear();
    const Outcome bad = Run([&] { return UpdateFromIni(devices, "cfg.ini", "41-BBBBB"); });
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out, "Error: Updating device '41-BBBBB' failed.\n");
    EXPECT_EQ(journal, std::vector<std::string>{"update 41-BBBBB cfg.ini"});
}

TEST_F(ModesTest, WriteDefaultReportsTheFileOnlyWhenItWasWritten) {
    const struct {
        bool succeeds;
        const char* out;
        int status;
    } cases[] = {
        {true,
         "Generating default HW configuration to \"def.ini\" file.\n"
         "Check the generated \"def.ini\" file.\n",
         0},
        {false, "Generating default HW configuration to \"def.ini\" file.\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        journal.clear();
        FakeFlash device(journal, L"", c.succeeds);
        const Outcome outcome = Run([&] { return WriteDefaultIni(device, "def.ini"); });
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_EQ(outcome.err, "");
        EXPECT_EQ(journal, std::vector<std::string>{"default def.ini"});
    }
}

}  // namespace
