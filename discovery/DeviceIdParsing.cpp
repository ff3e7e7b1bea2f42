#include "discovery/DeviceIdParsing.h"

#include <cstdint>
#include <cwchar>

namespace {

std::wstring ToUpperAscii(const std::wstring& text) {
    std::wstring upper(text);
    for (wchar_t& c : upper) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return upper;
}

// Reads a hex number as wcstol does where long is 32 bits (Windows), so that the result
// is the same on every platform even for overlong digit strings.
uint16_t ReadHex16(const std::wstring& text) {
    const long long value = std::wcstoll(text.c_str(), nullptr, 16);
    long long clamped = value;
    if (clamped > INT32_MAX) {
        clamped = INT32_MAX;
    } else if (clamped < INT32_MIN) {
        clamped = INT32_MIN;
    }
    return static_cast<uint16_t>(static_cast<uint64_t>(clamped) & 0xFFFFu);
}

// "<prefix>_<hex>" with a non-zero 16-bit value.
bool ParseIdPiece(const std::wstring& piece, const wchar_t* prefix, uint16_t& id) {
    const std::vector<std::wstring> parts = split(piece, L'_');
    if (parts.size() != 2 || parts[0] != prefix) {
        return false;
    }
    id = ReadHex16(parts[1]);
    return id != 0;
}

bool ParseVidPid(const std::wstring& text, wchar_t separator, bool refuseRootHub, uint16_t& vid,
                 uint16_t& pid) {
    const std::vector<std::wstring> fields = split(ToUpperAscii(text), separator);
    if (fields.size() < 2 || fields[1].empty()) {
        return false;
    }
    const std::wstring& ids = fields[1];
    if (refuseRootHub && ids.find(L"ROOT_HUB") != std::wstring::npos) {
        return false;
    }
    if (ids.find(L'&') == std::wstring::npos) {
        return false;
    }
    const std::vector<std::wstring> pieces = split(ids, L'&');
    if (pieces.size() != 2) {
        return false;
    }
    return ParseIdPiece(pieces[0], L"VID", vid) && ParseIdPiece(pieces[1], L"PID", pid);
}

}  // namespace

std::vector<std::wstring> split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> pieces;
    std::wstring::size_type start = 0;
    for (;;) {
        const std::wstring::size_type at = text.find(separator, start);
        if (at == std::wstring::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, at - start));
        start = at + 1;
    }
}

bool parseDevicePathVidPid(const std::wstring& path, uint16_t& vid, uint16_t& pid) {
    return ParseVidPid(path, L'#', true, vid, pid);
}

bool parseInstanceIdVidPid(const std::wstring& instanceId, uint16_t& vid, uint16_t& pid) {
    return ParseVidPid(instanceId, L'\\', false, vid, pid);
}
