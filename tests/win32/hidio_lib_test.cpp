// Binding the system's hid.dll: every table entry is the export of its own name.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "hid/HidLib.h"
#include "log/Log.h"
#include "tests/support/CaptureStdout.h"

namespace {

template <typename Function>
void* Address(Function function) {
    return reinterpret_cast<void*>(reinterpret_cast<void (*)()>(function));
}

void* Export(const char* name) {
    const HMODULE module = GetModuleHandleW(L"hid.dll");
    return module == nullptr ? nullptr
                             : reinterpret_cast<void*>(
                                   reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

TEST(HidLibWin32Test, BindsEveryExportByNameAndLogsReadyOnEachCall) {
    TempDir dir;
    const std::string logPath = dir.file("hidlib.log");
    CloseLogHandler();
    VerboseFlag() = 0;
    GetLogSettings().fileName = logPath;
    GetLogSettings().level = LogTrace;

    ASSERT_TRUE(HidLib::initialise());
    EXPECT_TRUE(HidLib::isInitialised());
    ASSERT_TRUE(HidLib::initialise());

    // Other tests in this program may swap entries; they put them back when they end.
    const HidFunctions& table = HidLib::functions();
    const struct {
        const char* name;
        void* bound;
    } entries[] = {
        {"HidD_GetHidGuid", Address(table.HidD_GetHidGuid)},
        {"HidD_GetPreparsedData", Address(table.HidD_GetPreparsedData)},
        {"HidD_FreePreparsedData", Address(table.HidD_FreePreparsedData)},
        {"HidD_GetAttributes", Address(table.HidD_GetAttributes)},
        {"HidD_FlushQueue", Address(table.HidD_FlushQueue)},
        {"HidD_SetNumInputBuffers", Address(table.HidD_SetNumInputBuffers)},
        {"HidD_GetSerialNumberString", Address(table.HidD_GetSerialNumberString)},
        {"HidD_GetFeature", Address(table.HidD_GetFeature)},
        {"HidD_SetOutputReport", Address(table.HidD_SetOutputReport)},
        {"HidP_GetCaps", Address(table.HidP_GetCaps)},
        {"HidP_GetValueCaps", Address(table.HidP_GetValueCaps)},
    };
    for (const auto& entry : entries) {
        EXPECT_NE(entry.bound, nullptr) << entry.name;
        EXPECT_EQ(entry.bound, Export(entry.name)) << entry.name;
    }

    CloseLogHandler();
    const std::string line = "\tHidLib::initialise - hid library ready\r\n";
    const std::string text = ReadFileBytes(logPath);
    const size_t first = text.find(line);
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_NE(text.find(line, first + 1), std::string::npos) << text;
    EXPECT_NE(text.find("\tDebug\tHidLib::initialise"), std::string::npos) << text;
    GetLogSettings() = CLogSettings{};
}

}  // namespace
