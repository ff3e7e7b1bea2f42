// Binding the system's hid.dll: every table entry is the export of its own name.
#include <gtest/gtest.h>
#include <windows.h>

#include "hid/HidLib.h"

namespace {

template <typename Function>
void* Address(Function function) {
    return reinterpret_cast<void*>(reinterpret_cast<void (*)()>(function));
}

TEST(HidLibWin32Test, BindsEveryExportByItsOwnName) {
    ASSERT_TRUE(HidLib::initialise());
    ASSERT_TRUE(HidLib::initialise());  // a second call keeps the binding
    const HMODULE module = GetModuleHandleW(L"hid.dll");
    ASSERT_NE(module, nullptr);
    const HidFunctions& table = HidLib::functions();
    const std::pair<const char*, void*> entries[] = {
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
    for (const auto& [name, bound] : entries) {
        EXPECT_EQ(bound, Address(GetProcAddress(module, name))) << name;
    }
}

}  // namespace
