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
// Wide to UTF-8 on every platform (Narrow is the ANSI code page on Windows), for text that
// must be UTF-8 whatever the system: a lone surrogate becomes U+FFFD.
std::string ToUtf8(std::wstring_view text);
// UTF-16 code units (as HID string descriptors and INI files carry them) to a wide string.
std::wstring FromUtf16(const char16_t* units, size_t count);
// Appends one code point as UTF-8; a surrogate or a value past U+10FFFF becomes U+FFFD.
void AppendUtf8(std::string& out, uint32_t codePoint);
// The value of one hexadecimal digit (either case), or -1 for any other character.
int HexDigitValue(char32_t c);

std::string FormatString(const char* format, ...) MARVANE_PRINTF(1, 2);
std::string FormatStringV(const char* format, va_list args);
