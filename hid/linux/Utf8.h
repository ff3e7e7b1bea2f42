// UTF-8 text from sysfs and udev (serial numbers) as the UTF-16 units Windows returns.
// Decoded here rather than through the C library, whose result depends on the locale.
#pragma once

#include <string>
#include <string_view>

namespace hidraw {

// Malformed, overlong or surrogate sequences become U+FFFD, one per bad byte.
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace hidraw
