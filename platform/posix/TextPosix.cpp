#include <cstdint>

#include "platform/Text.h"

// UTF-8 both ways, without the C library's locale: the program never calls setlocale.
// A byte that is not part of valid UTF-8 (a Latin-1 file name, say) travels as the lone
// surrogate U+DC80 + byte and is written back as that byte, so names round-trip exactly.
namespace {

constexpr uint32_t kEscapedByteBase = 0xDC80;

// Narrow's encoder: an escaped byte goes back out as that byte.
void AppendNameUtf8(std::string& out, uint32_t cp) {
    if (cp >= kEscapedByteBase && cp <= kEscapedByteBase + 0x7F) {
        out.push_back(static_cast<char>(cp - kEscapedByteBase + 0x80));
        return;
    }
    AppendUtf8(out, cp);
}

// Length and first bits of the sequence a lead byte opens; 0 when it opens none.
size_t SequenceLength(unsigned char lead, uint32_t& bits) {
    if (lead < 0x80) {
        bits = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        bits = lead & 0x1F;
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        bits = lead & 0x0F;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        bits = lead & 0x07;
        return 4;
    }
    return 0;
}

}  // namespace

std::string Narrow(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (const wchar_t wc : text) {
        AppendNameUtf8(out, static_cast<uint32_t>(wc));
    }
    return out;
}

std::wstring Widen(std::string_view text) {
    static constexpr uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    std::wstring out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        uint32_t cp = 0;
        size_t length = SequenceLength(lead, cp);
        for (size_t k = 1; k < length; ++k) {
            const auto next = i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
            if ((next & 0xC0) != 0x80) {
                length = 0;
                break;
            }
            cp = (cp << 6) | (next & 0x3F);
        }
        const bool valid = length > 0 && cp >= kShortest[length] && cp <= 0x10FFFF &&
                           !(cp >= 0xD800 && cp <= 0xDFFF);
        if (!valid) {
            out.push_back(static_cast<wchar_t>(kEscapedByteBase + (lead & 0x7F)));
            ++i;
            continue;
        }
        out.push_back(static_cast<wchar_t>(cp));
        i += length;
    }
    return out;
}
