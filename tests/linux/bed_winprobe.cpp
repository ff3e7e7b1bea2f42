// Windows helper of the Wine-on-bed test: a line for every present HID interface that opens
// and answers HidD_GetAttributes, so the test can wait until Wine's bus has every node up.
#include <windows.h>
// windows.h first
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
        return 1;
    }
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &data); ++index) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
        std::vector<unsigned char> buffer(size + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (size == 0 ||
            !SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr)) {
            continue;
        }
        HANDLE h = CreateFileW(detail->DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            continue;
        }
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof(attributes);
        if (HidD_GetAttributes(h, &attributes)) {
            std::printf("%04x:%04x\n", attributes.VendorID, attributes.ProductID);
        }
        CloseHandle(h);
    }
    SetupDiDestroyDeviceInfoList(set);
    return 0;
}
