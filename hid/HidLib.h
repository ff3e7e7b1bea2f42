// The process-wide table of HID class library functions, bound once at start-up.
// Each backend supplies initialise(): the Windows one loads hid.dll, the simulated one
// points the table at the simulated bus.
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
    HidStatus(HID_API* HidP_GetValueCaps)(int reportType, HidValueCaps* valueCaps,
                                          uint16_t* length, HidPreparsedData preparsed);
};

class HidLib {
public:
    // Binds the table; true when every function is available. Later calls return true at
    // once (logging the ready line again).
    static bool initialise();
    static bool isInitialised();
    // The bound table; only valid after initialise() returned true.
    static const HidFunctions& functions();
};
