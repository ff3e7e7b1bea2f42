// One UTF-8 decoder serves INI files, serial numbers and the names typed on the command line.
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <utility>

// Each bad byte alone becomes U+FFFD and the bytes after it decode afresh; names escape the
// bad bytes instead, so that a file name that is not UTF-8 reaches the file system unchanged.
// Back to UTF-8 (JSON output needs it whatever the code page) a pair is one character.
TEST(TextTest, Utf8DecodesOneBadByteAtATime) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"0001A7 x.ini", u"0001A7 x.ini"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", u"caf\u00E9 \u20AC \U0001F600"},
        {"a\xC3", u"a\uFFFD"},                              // cut short
        {"cut\xE2\x82", u"cut\uFFFD\uFFFD"},                // cut short
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // a surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
        {"lat\xE9n\xFF", u"lat\uFFFDn\uFFFD"},              // Latin-1, no lead byte
        {"\xE2\x28\xA1", u"\uFFFD(\uFFFD"},
    };
    for (const auto& [in, out] : cases) {
        SCOPED_TRACE(testing::PrintToString(in));
        EXPECT_EQ(Utf8ToUtf16(in), out);
        EXPECT_EQ(FromUtf8(in), FromUtf16(out.data(), out.size()));
        EXPECT_EQ(ToUtf16(FromUtf8(in)), out);
#ifndef _WIN32
        EXPECT_EQ(Narrow(Widen(in)), in);
#endif
    }
    EXPECT_EQ(ToUtf8(FromUtf8(cases[1].first)), cases[1].first);
    const std::wstring lone = {L'a', static_cast<wchar_t>(0xD800), L'b'};
    EXPECT_EQ(ToUtf8(lone),
              "a\xef\xbf\xbd"
              "b");
}
