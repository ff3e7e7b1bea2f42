// How a device reports itself: USB ids, serial number and component firmware levels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ComponentLevel {
    std::wstring name;
    uint16_t level = 0;
};

struct DeviceLevels {
    uint16_t vid = 0;
    uint16_t pid = 0;
    std::wstring serial;
    std::vector<ComponentLevel> components;
};
