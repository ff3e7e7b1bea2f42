// Windows helper for the Wine-on-bed test: lists every present HID interface the way the
// Windows walk reads it (query-only open, attributes, caps, output value caps, serial
// number) plus the instance id of its parent, one line each, so the test can check what
// Wine's HID stack makes of the emulated nodes without stopping where the product stops.
#include <windows.h>
// windows.h first
#include <cfgmgr32.h>
#include <setupapi.h>
extern "C" {  // MinGW's hid headers declare no linkage of their own
#include <hidsdi.h>
}

#include <cstdio>
#include <vector>

int main() {
    GUID guid;
    HidD_GetHidGuid(&guid);
    HDEVINFO set =
        SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        std::printf("no interface set, error=0x%08lx\n", GetLastError());
        return 1;
    }
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &data); ++index) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
        std::vector<unsigned char> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof(info);
        if (size == 0 ||
            !SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, &info)) {
            continue;
        }
        wchar_t parentId[MAX_PATH] = L"-";
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, info.DevInst, 0) == CR_SUCCESS) {
            CM_Get_Device_IDW(parent, parentId, MAX_PATH, 0);
        }
        HANDLE h = CreateFileW(detail->DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            continue;
        }
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof(attributes);
        HidD_GetAttributes(h, &attributes);
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        HIDP_CAPS caps{};
        if (HidD_GetPreparsedData(h, &preparsed)) {
            HidP_GetCaps(preparsed, &caps);
        }
        USHORT outputs = caps.NumberOutputValueCaps;
        std::vector<HIDP_VALUE_CAPS> values(outputs + 1);
        if (preparsed == nullptr || outputs == 0 ||
            HidP_GetValueCaps(HidP_Output, values.data(), &outputs, preparsed) !=
                HIDP_STATUS_SUCCESS) {
            outputs = 0;
        }
        wchar_t serial[128] = {};
        if (!HidD_GetSerialNumberString(h, serial, sizeof(serial))) {
            serial[0] = 0;
        }
        std::printf("%04x:%04x v%04x %04x:%04x in=%u out=%u feature=%u", attributes.VendorID,
                    attributes.ProductID, attributes.VersionNumber, caps.UsagePage, caps.Usage,
                    caps.InputReportByteLength, caps.OutputReportByteLength,
                    caps.FeatureReportByteLength);
        std::printf(" outvalues=%u", outputs);
        for (USHORT i = 0; i < outputs; ++i) {
            std::printf(" %02x:%04x:%u", values[i].ReportID,
                        values[i].IsRange ? values[i].Range.UsageMin : values[i].NotRange.Usage,
                        values[i].ReportCount);
        }
        std::printf(" serial=%ls parent=%ls\n", serial, parentId);
        if (preparsed != nullptr) {
            HidD_FreePreparsedData(preparsed);
        }
        CloseHandle(h);
    }
    SetupDiDestroyDeviceInfoList(set);
    return 0;
}
