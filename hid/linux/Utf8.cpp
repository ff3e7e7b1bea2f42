#include "hid/linux/Utf8.h"

#include <cstdint>

namespace hidraw {

std::u16string Utf8ToUtf16(std::string_view text) {
    constexpr char16_t kReplacement = 0xFFFD;
    std::u16string out;
    size_t at = 0;
    while (at < text.size()) {
        const auto lead = static_cast<uint8_t>(text[at]);
        size_t extra = 0;
        uint32_t code = 0;
        uint32_t least = 0;
        if (lead < 0x80) {
            out.push_back(lead);
            ++at;
            continue;
        }
        if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            code = lead & 0x1Fu;
            least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            code = lead & 0x0Fu;
            least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            code = lead & 0x07u;
            least = 0x10000;
        } else {
            out.push_back(kReplacement);
            ++at;
            continue;
        }
        bool good = text.size() - at > extra;
        for (size_t k = 1; good && k <= extra; ++k) {
            const auto next = static_cast<uint8_t>(text[at + k]);
            if ((next & 0xC0) != 0x80) {
                good = false;
            } else {
                code = (code << 6) | (next & 0x3Fu);
            }
        }
        if (!good || code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            out.push_back(kReplacement);
            ++at;
            continue;
        }
        if (code >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        at += 1 + extra;
    }
    return out;
}

}  // namespace hidraw
