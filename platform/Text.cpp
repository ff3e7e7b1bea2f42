#include "platform/Text.h"

#include <cstdint>
#include <cstdio>
#include <vector>

std::string FormatStringV(const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) {
        return {};
    }
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    return std::string(buffer.data(), static_cast<size_t>(length));
}

std::string FormatString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatStringV(format, args);
    va_end(args);
    return text;
}

namespace {

constexpr uint32_t kReplacement = 0xFFFD;
constexpr uint32_t kEscapedByteBase = 0xDC80;

bool IsSurrogate(uint32_t cp) {
    return cp >= 0xD800 && cp <= 0xDFFF;
}

// The valid UTF-8 sequence that starts at text[at]: its length, with its code point in cp;
// 0 when text[at] starts none and is a bad byte.
size_t DecodeAt(std::string_view text, size_t at, uint32_t& cp) {
    static constexpr uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    const auto lead = static_cast<unsigned char>(text[at]);
    size_t length = 0;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        cp = lead & 0x1Fu;
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        cp = lead & 0x0Fu;
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        cp = lead & 0x07u;
        length = 4;
    } else {
        return 0;
    }
    if (text.size() - at < length) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (next & 0x3Fu);
    }
    return cp >= kShortest[length] && cp <= 0x10FFFF && !IsSurrogate(cp) ? length : 0;
}

// Calls add with each code point of text, bad bytes as the rule says.
template <typename Add>
void DecodeUtf8(std::string_view text, BadUtf8 bad, Add&& add) {
    size_t at = 0;
    while (at < text.size()) {
        uint32_t cp = 0;
        const size_t length = DecodeAt(text, at, cp);
        if (length == 0) {
            const auto byte = static_cast<unsigned char>(text[at]);
            add(bad == BadUtf8::Escape ? kEscapedByteBase + byte - 0x80 : kReplacement);
            ++at;
        } else {
            add(cp);
            at += length;
        }
    }
}

template <typename String>
void AppendUtf16(String& out, uint32_t cp) {
    using Unit = typename String::value_type;
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<Unit>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<Unit>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<Unit>(cp));
    }
}

}  // namespace

std::wstring FromUtf8(std::string_view text, BadUtf8 bad) {
    std::wstring out;
    out.reserve(text.size());
    DecodeUtf8(text, bad, [&out](uint32_t cp) {
        if constexpr (sizeof(wchar_t) == 2) {
            AppendUtf16(out, cp);
        } else {
            out.push_back(static_cast<wchar_t>(cp));
        }
    });
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    DecodeUtf8(text, BadUtf8::Replace, [&out](uint32_t cp) { AppendUtf16(out, cp); });
    return out;
}

std::wstring FromUtf16(const char16_t* units, size_t count) {
    std::wstring text;
    text.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const char32_t unit = units[i];
        if constexpr (sizeof(wchar_t) == 2) {
            text.push_back(static_cast<wchar_t>(unit));
        } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 &&
                   units[i + 1] <= 0xDFFF) {
            const char32_t low = units[++i];
            text.push_back(
                static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
        } else {
            text.push_back(static_cast<wchar_t>(unit));
        }
    }
    return text;
}

std::u16string ToUtf16(std::wstring_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (const wchar_t c : text) {
        const auto cp = static_cast<uint32_t>(c);
        AppendUtf16(out, cp > 0x10FFFF ? kReplacement : cp);
    }
    return out;
}

std::string ToUtf8(std::wstring_view text, BadUtf8 bad) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = static_cast<uint32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            // UTF-16: a high surrogate followed by a low one is one code point.
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
                const uint32_t low = static_cast<uint32_t>(text[i + 1]);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        if (bad == BadUtf8::Escape && cp >= kEscapedByteBase && cp <= kEscapedByteBase + 0x7F) {
            out.push_back(static_cast<char>(cp - kEscapedByteBase + 0x80));
        } else {
            AppendUtf8(out, cp);
        }
    }
    return out;
}

void AppendUtf8(std::string& out, uint32_t codePoint) {
    uint32_t cp = codePoint;
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
        cp = 0xFFFD;
    }
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

int HexDigitValue(char32_t c) {
    if (c >= U'0' && c <= U'9') {
        return static_cast<int>(c - U'0');
    }
    if (c >= U'a' && c <= U'f') {
        return static_cast<int>(c - U'a' + 10);
    }
    if (c >= U'A' && c <= U'F') {
        return static_cast<int>(c - U'A' + 10);
    }
    return -1;
}
