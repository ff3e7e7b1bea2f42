// Vendor and product ids out of the names Windows gives devices.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

std::vector<std::wstring> split(const std::wstring& text, wchar_t separator);
// Interface paths: fields separated by '#'; root hubs are refused.
bool parseDevicePathVidPid(const std::wstring& path, uint16_t& vid, uint16_t& pid);
// Device instance ids: fields separated by '\'.
bool parseInstanceIdVidPid(const std::wstring& instanceId, uint16_t& vid, uint16_t& pid);
