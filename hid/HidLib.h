// The process-wide table of HID class library functions, with the signatures hid.dll
// publishes: the walks, the device objects and the channel's Windows transport call through
// it, so the same core code runs over every backend.
#pragma once

#include "hid/HidTypes.h"

struct HidFunctions {
    void(HID_API* HidD_GetHidGuid)(HidGuid* guid);
    HidBoolean(HID_API* HidD_GetPreparsedData)(HidHandle device, HidPreparsedData* preparsed);
    HidBoolean(HID_API* HidD_FreePreparsedData)(HidPreparsedData preparsed);
    HidBoolean(HID_API* HidD_GetAttributes)(HidHandle device, HidAttributes* attributes);
    HidBoolean(HID_API* HidD_FlushQueue)(HidHandle device);
    HidBoolean(HID_API* HidD_SetNumInputBuffers)(HidHandle device, uint32_t count);
    HidBoolean(HID_API* HidD_GetSerialNumberString)(HidHandle device, void* buffer,
                                                    uint32_t length);
    HidBoolean(HID_API* HidD_GetFeature)(HidHandle device, void* buffer, uint32_t length);
    HidBoolean(HID_API* HidD_SetOutputReport)(HidHandle device, void* buffer, uint32_t length);
    HidStatus(HID_API* HidP_GetCaps)(HidPreparsedData preparsed, HidCaps* caps);
    HidStatus(HID_API* HidP_GetValueCaps)(int reportType, HidValueCaps* valueCaps, uint16_t* length,
                                          HidPreparsedData preparsed);
};

// The table is bound once, from the main thread, before any enumeration or channel; it stays
// bound for the whole run. Process-wide, without locks.
class HidLib {
public:
    // Binds the table through the backend's HidBindFunctions; true when every function is
    // available. Logs "HidLib::initialise - hid library ready" on success, and again on every
    // later call, which returns true at once. A failure logs nothing: the driver reports it.
    static bool initialise();
    static bool isInitialised();
    // The bound table; only valid after initialise() returned true.
    static const HidFunctions& functions();
    // Forgets the binding, as a new process would start (the backend's release at exit, the
    // simulator's tests). The next initialise() binds again.
    static void forget();
};

// Defined once per backend: fills every entry of the table, or returns false.
// Windows: loads hid.dll from the system directory and binds its eleven exports by name, in
// table order, stopping at the first missing one (HidD_SetOutputReport is never called, but a
// library without it fails all the same); the library is released at process exit.
// Linux: the hidraw ioctls and sysfs; a HidHandle is a hidraw::HidrawNode*, failures leave
// errno set where Windows sets the last error. Never fails.
// Simulator: the simulated bus; fails when the bus says the library is missing.
bool HidBindFunctions(HidFunctions& table);
