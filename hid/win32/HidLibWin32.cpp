// hid.dll is bound at run time rather than linked, so that a machine without the HID class
// library still starts the program and the driver can refuse with its own message. It is
// not one of the system's known DLLs, so it is taken from the system directory only: the
// program runs elevated, and a hid.dll beside it (a downloads folder) must never run.
#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <type_traits>

#include "hid/HidLib.h"

namespace {

struct ModuleUnloader {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using ModuleHandle = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleUnloader>;

// Constant-initialised, so it is usable from any static initialiser. Its destructor is a
// safety net only: the release below runs first and leaves nothing to unload.
ModuleHandle g_module;

// Looks up one export and stores it in its typed table slot.
template <typename Function>
bool BindExport(HMODULE module, const char* name, Function& slot) {
    const FARPROC address = GetProcAddress(module, name);
    if (address == nullptr) {
        return false;
    }
    // Through the generic function pointer type: the compiler accepts any function pointer
    // conversion from it without a cast-function-type warning.
    slot = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
    return true;
}

// The library stays loaded for the whole run; device objects destroyed during exit may
// still be using it until then.
void ReleaseHidLibrary() {
    if (g_module) {
        HidLib::forget();
        g_module.reset();
    }
}

HMODULE LoadSystemHidLibrary() {
    HMODULE module = LoadLibraryExW(L"hid.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) {
        return module;
    }
    // A Windows 7 without the search-flags update refuses the flag: name the file by its
    // full path in the system directory instead.
    wchar_t directory[MAX_PATH];
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return nullptr;
    }
    const std::wstring path = std::wstring(directory, length) + L"\\hid.dll";
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

bool HidBindFunctions(HidFunctions& table) {
    ModuleHandle module(LoadSystemHidLibrary());
    if (!module) {
        return false;
    }

    // In this order, stopping at the first missing name. HidD_SetOutputReport is never
    // called, but a library without it is not one this program was built against.
    const HMODULE m = module.get();
    const bool bound =
        BindExport(m, "HidD_GetHidGuid", table.HidD_GetHidGuid) &&
        BindExport(m, "HidD_GetPreparsedData", table.HidD_GetPreparsedData) &&
        BindExport(m, "HidD_FreePreparsedData", table.HidD_FreePreparsedData) &&
        BindExport(m, "HidD_GetAttributes", table.HidD_GetAttributes) &&
        BindExport(m, "HidD_FlushQueue", table.HidD_FlushQueue) &&
        BindExport(m, "HidD_SetNumInputBuffers", table.HidD_SetNumInputBuffers) &&
        BindExport(m, "HidD_GetSerialNumberString", table.HidD_GetSerialNumberString) &&
        BindExport(m, "HidD_GetFeature", table.HidD_GetFeature) &&
        BindExport(m, "HidD_SetOutputReport", table.HidD_SetOutputReport) &&
        BindExport(m, "HidP_GetCaps", table.HidP_GetCaps) &&
        BindExport(m, "HidP_GetValueCaps", table.HidP_GetValueCaps);
    if (!bound) {
        return false;  // the module unloads here
    }

    g_module = std::move(module);
    std::atexit(ReleaseHidLibrary);
    return true;
}
