// The run modes over test doubles of the HID flash device: device order, serial matching,
// what is printed where, and the exit status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Driver.h"
#include "platform/Text.h"
#include "tests/support/CaptureStdout.h"

namespace {

// Answers from its fields and writes every call into a shared journal.
class FakeFlash : public ZelHidFlash {
public:
    FakeFlash(std::vector<std::string>& sharedJournal, std::wstring serialNumber, bool fails)
        : journal(sharedJournal), succeeds(!fails) {
        serial = std::move(serialNumber);
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
    bool updateDevice(std::wstring iniPath) override { return Note("update ", iniPath); }
    bool saveCurrentConfig(std::wstring iniPath) override { return Note("save ", iniPath); }
    bool saveDefaultConfig(std::wstring iniPath) override { return Note("default ", iniPath); }

    std::vector<ComponentLevel> components = {
        {L"MCU", 0x0102}, {L"HW_CFG", 0x0001}, {L"SCALAR", 0x1a2b}, {L"CAPSENSE", 0xffff}};

private:
    bool Note(const char* call, const std::wstring& iniPath) {
        journal.push_back(call + Narrow(serial) + " " + Narrow(iniPath));
        return succeeds;
    }
    std::vector<std::string>& journal;
    bool succeeds;
};

TEST(ModesTest, ListPrintsEveryDeviceInDiscoveryOrder) {
    std::vector<std::string> journal;
    FakeFlash first(journal, L"41-AAAAA", false);
    FakeFlash second(journal, L"41-BBBBB", false);
    second.components = {{L"MCU", 0x0a0b}};
    CaptureOutput capture;
    EXPECT_EQ(ListDevices({&first, &second}), 0);
    EXPECT_EQ(capture.out(),
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
              "\n");
    EXPECT_EQ(capture.err(), "");
    EXPECT_TRUE(journal.empty());
}

// Three devices in this order: 41-AAAAA, 41-BBBBB and a second 41-BBBBB that always succeeds.
TEST(ModesTest, SaveAndUpdateTouchTheRightDevicesAndReportEachFailure) {
    const std::string creating = "Creating INI file from current configuration\n";
    const std::string saved = creating + "Check the generated \"x.ini\" file.\n";
    const std::string unknown = "Error: Unknown serial number. Please try again.\n";
    const std::string failedA = "Error: Updating device '41-AAAAA' failed.\n";
    const std::string failedB = "Error: Updating device '41-BBBBB' failed.\n";
    const std::string saveA = "save 41-AAAAA x.ini", updateA = "update 41-AAAAA x.ini";
    const std::string saveB = "save 41-BBBBB x.ini", updateB = "update 41-BBBBB x.ini";
    const struct {
        bool update;
        const char* serial;
        bool aFails, bFails;
        std::vector<std::string> journal;
        std::string out, err;
        int status;
    } cases[] = {
        {false, "", false, false, {saveA}, saved, "", 0},  // one file from the first device
        {false, "41-BBBBB", false, false, {saveB}, saved, "", 0},
        {false, "", true, false, {saveA}, creating, "", 1},  // not retried on another device
        {false, "41-aaaaa", false, false, {}, creating, unknown, 1},
        {false, "41-BBBB", false, false, {}, creating, unknown, 1},
        {true, "", false, false, {updateA, updateB, updateB}, "", "", 0},
        {true, "", true, false, {updateA, updateB, updateB}, failedA, "", 1},
        {true, "", true, true, {updateA, updateB, updateB}, failedA + failedB, "", 1},
        {true, "41-BBBBB", false, true, {updateB}, failedB, "", 1},  // the first match only
        {true, "41-BBBBB ", false, false, {}, "", unknown, 1},
        {true, "41-bbbbb", false, false, {}, "", unknown, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.update ? "-i" : "-o") + " -s '" + c.serial + "'");
        std::vector<std::string> journal;
        FakeFlash a(journal, L"41-AAAAA", c.aFails);
        FakeFlash b(journal, L"41-BBBBB", c.bFails);
        FakeFlash again(journal, L"41-BBBBB", false);
        const std::vector<ZelHidFlash*> devices = {&a, &b, &again};
        CaptureOutput capture;
        EXPECT_EQ(c.update ? UpdateFromIni(devices, "x.ini", c.serial)
                           : WriteCurrentIni(devices, "x.ini", c.serial),
                  c.status);
        EXPECT_EQ(capture.out(), c.out);
        EXPECT_EQ(capture.err(), c.err);
        EXPECT_EQ(journal, c.journal);
    }
}

}  // namespace
