#include "platform/Text.h"

// UTF-8 both ways, without the C library's locale: the program never calls setlocale. Bytes
// that are not UTF-8 (a Latin-1 file name, say) travel escaped, so names round-trip exactly.
std::string Narrow(std::wstring_view text) {
    return ToUtf8(text, BadUtf8::Escape);
}

std::wstring Widen(std::string_view text) {
    return FromUtf8(text, BadUtf8::Escape);
}
