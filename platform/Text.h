// Text conversions. Wide strings are UTF-16 on Windows (wchar_t) and UTF-32 on POSIX;
// never hand a wide string to a printf-style format: convert it with Narrow() and use %s.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Format.h"

// Wide to narrow: the system's ANSI code page on Windows, UTF-8 elsewhere.
std::string Narrow(std::wstring_view text);
// Narrow to wide, the reverse of Narrow. ASCII is unchanged on every platform.
std::wstring Widen(std::string_view text);
// What a byte that is not part of valid UTF-8 becomes. Valid UTF-8 is the shortest form of a
// code point up to U+10FFFF that is not a surrogate; anything else (a stray or cut-off byte,
// an overlong form, a surrogate, a value past U+10FFFF) is taken one bad byte at a time, the
// bytes after it decoded afresh.
enum class BadUtf8 {
    Replace,  // U+FFFD per bad byte
    // The lone surrogate U+DC80 + (byte - 0x80), which ToUtf8 with Escape writes back as that
    // byte: names that are not UTF-8 (a Latin-1 file name, say) round-trip exactly.
    Escape,
};

// UTF-8 to a wide string (UTF-16 on Windows, UTF-32 elsewhere).
std::wstring FromUtf8(std::string_view text, BadUtf8 bad = BadUtf8::Replace);
// UTF-8 to UTF-16 code units, as Windows hands out strings such as serial numbers.
std::u16string Utf8ToUtf16(std::string_view text);
// Wide to UTF-8 on every platform (Narrow is the ANSI code page on Windows), for text that
// must be UTF-8 whatever the system: a lone surrogate becomes U+FFFD, or with Escape an
// escaped byte becomes that byte again.
std::string ToUtf8(std::wstring_view text, BadUtf8 bad = BadUtf8::Replace);
// UTF-16 code units (as HID string descriptors and INI files carry them) to a wide string; a
// lone surrogate stays as it is.
std::wstring FromUtf16(const char16_t* units, size_t count);
// A wide string as UTF-16 code units: the reverse of FromUtf16; a value past U+10FFFF
// becomes U+FFFD.
std::u16string ToUtf16(std::wstring_view text);
// Appends one code point as UTF-8; a surrogate or a value past U+10FFFF becomes U+FFFD.
void AppendUtf8(std::string& out, uint32_t codePoint);
// The value of one hexadecimal digit (either case), or -1 for any other character.
int HexDigitValue(char32_t c);

std::string FormatString(const char* format, ...) MARVANE_PRINTF(1, 2);
std::string FormatStringV(const char* format, va_list args);
