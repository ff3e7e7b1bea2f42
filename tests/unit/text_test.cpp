// Names typed on the command line must reach the file system unchanged.
#include "platform/Text.h"

#include <gtest/gtest.h>

#ifndef _WIN32
TEST(TextTest, AnyByteStringSurvivesWideningAndNarrowing) {
    // UTF-8, Latin-1 bytes, overlong and surrogate encodings, bytes that open no sequence,
    // a cut-off sequence.
    for (const std::string name :
         {"VornikMonCfg.ini", "caf\xc3\xa9.ini", "\xf0\x9f\x98\x80", "lat\xe9n.ini", "\xc0\xaf",
          "\xed\xa0\x80", "\xf5\x80\xff", "cut\xe2\x82"}) {
        EXPECT_EQ(Narrow(Widen(name)), name);
    }
    EXPECT_EQ(Widen("caf\xc3\xa9"), L"caf\u00e9");
}
#endif

TEST(TextTest, AsciiIsTheSameOnEveryPlatform) {
    EXPECT_EQ(Widen("41-FFFFF x.ini"), L"41-FFFFF x.ini");
    EXPECT_EQ(Narrow(L"41-FFFFF x.ini"), "41-FFFFF x.ini");
}

// JSON output needs UTF-8 whatever the code page: pairs joined, a lone surrogate replaced.
TEST(TextTest, ToUtf8GivesValidUtf8OnEveryPlatform) {
    EXPECT_EQ(ToUtf8(L"caf\u00e9 \u20ac \U0001F600"), "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80");
    // A serial as the device gives it (UTF-16): its pair is one character.
    const char16_t serial[] = {u'4', 0xD83D, 0xDE00};
    EXPECT_EQ(ToUtf8(FromUtf16(serial, 3)), "4\xf0\x9f\x98\x80");
    const std::wstring lone = {L'a', static_cast<wchar_t>(0xD800), L'b'};
    EXPECT_EQ(ToUtf8(lone),
              "a\xef\xbf\xbd"
              "b");
}
