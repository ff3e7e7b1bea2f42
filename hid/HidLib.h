// The process-wide table of HID class library functions, with the signatures hid.dll
// publishes: the walks, the device objects and the channel's Windows transport call through
// it, so the same core code runs over every backend.
#pragma once

#include "hid/HidTypes.h"

// Each entry has hid.dll's meaning; a false HidBoolean leaves the reason in the system's last
// error (GetLastError on Windows, errno on Linux, SimBus::lastError in the simulator). A
// HidHandle is a file handle on Windows, a hidraw::HidrawNode* on Linux (one collection of
// one node) and a SimInterface* in the simulator. None waits on its own beyond the system's
// limits (Linux: a feature request may take the USB core's 5000 ms); none is called from a
// second thread.
struct HidFunctions {
    // The HID interface class; Linux gives Windows' value, which nothing there uses.
    void(HID_API* HidD_GetHidGuid)(HidGuid* guid);
    // A block answering for the handle's collection, valid until freed whatever happens to the
    // handle. Linux: our own parse of the node's report descriptor.
    HidBoolean(HID_API* HidD_GetPreparsedData)(HidHandle device, HidPreparsedData* preparsed);
    // False for a block not handed out (or already freed), which is never followed.
    HidBoolean(HID_API* HidD_FreePreparsedData)(HidPreparsedData preparsed);
    // Vendor, product and release number. Linux: the release number is the USB device's, 0
    // for a device on another bus.
    HidBoolean(HID_API* HidD_GetAttributes)(HidHandle device, HidAttributes* attributes);
    // Drops the input reports waiting. Linux: reads the node dry (at most 4096 reports).
    HidBoolean(HID_API* HidD_FlushQueue)(HidHandle device);
    // The input queue's depth. Linux keeps 64 reports per open file: accepted, nothing set.
    HidBoolean(HID_API* HidD_SetNumInputBuffers)(HidHandle device, uint32_t count);
    // The serial as UTF-16 with its terminator; the whole of it fits in `length` bytes or
    // nothing is written. Linux: the USB device's serial, else HID_UNIQ.
    HidBoolean(HID_API* HidD_GetSerialNumberString)(HidHandle device, void* buffer,
                                                    uint32_t length);
    // buffer[0] is the report id on the way in and out; an id the collection does not declare
    // is refused (ERROR_INVALID_PARAMETER, Linux EINVAL) before the device hears of it; a
    // shorter answer leaves the rest zero.
    HidBoolean(HID_API* HidD_GetFeature)(HidHandle device, void* buffer, uint32_t length);
    // Sends an output report by control transfer; bound but not called by the program.
    HidBoolean(HID_API* HidD_SetOutputReport)(HidHandle device, void* buffer, uint32_t length);
    // The collection's usage and report lengths (each counting the id byte, 0 when none).
    HidStatus(HID_API* HidP_GetCaps)(HidPreparsedData preparsed, HidCaps* caps);
    // Value caps of one report kind in descriptor order. A buffer too small gets what fits,
    // `length` says how many, and the answer is kHidpStatusBufferTooSmall.
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
