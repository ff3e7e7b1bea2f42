// INI files and what the private-profile functions make of them: the same tables drive the
// tests of our own implementation and the comparison with the Windows functions.
#pragma once

#include <fstream>
#include <string>
#include <vector>

namespace profile_cases {

// Whether a file whose write permissions were removed can still be opened for writing: on
// Windows only when the tests run as root under Wine, which ignores the read-only attribute.
inline bool ReadOnlyIgnoredBySystem(const std::string& path) {
#ifdef _WIN32
    return std::ofstream(path, std::ios::binary | std::ios::app).is_open();
#else
    (void)path;
    return false;  // our own code refuses such files, root or not
#endif
}

inline std::string Utf16Le(const std::string& ascii) {
    std::string bytes = "\xFF\xFE";
    for (const char c : ascii) {
        bytes.push_back(c);
        bytes.push_back('\0');
    }
    return bytes;
}

struct ReadCase {
    const char* name;
    std::string file;  // file bytes
    std::wstring section;
    std::wstring key;
    std::wstring expected;  // the value read ("" for nothing)
};

inline std::vector<ReadCase> ReadCases() {
    return {
        {"crlf", "[General]\r\nVolume=05\r\n", L"General", L"Volume", L"05"},
        {"lf", "[General]\nVolume=05\n", L"General", L"Volume", L"05"},
        {"cr only", "[General]\rVolume=05\r", L"General", L"Volume", L"05"},
        {"no final line end", "[General]\r\nVolume=05", L"General", L"Volume", L"05"},
        {"case of names", "[gENERAL]\r\nvOLUME=1D\r\n", L"General", L"Volume", L"1D"},
        {"blanks around", "[General]\r\n   Volume  =  1d   \r\n", L"General", L"Volume", L"1d"},
        {"tabs around", "[General]\r\n\tVolume\t=\t1d\t\r\n", L"General", L"Volume", L"1d"},
        {"blank inside kept", "[General]\r\nVolume=1 d\r\n", L"General", L"Volume", L"1 d"},
        {"three digits", "[General]\r\nVolume=001\r\n", L"General", L"Volume", L"001"},
        {"equals in value", "[General]\r\nVolume=a=b\r\n", L"General", L"Volume", L"a=b"},
        {"double quotes", "[General]\r\nVolume=\"1d\"\r\n", L"General", L"Volume", L"1d"},
        {"single quotes", "[General]\r\nVolume='1d'\r\n", L"General", L"Volume", L"1d"},
        {"one quote", "[General]\r\nVolume=\"1d\r\n", L"General", L"Volume", L"\"1d"},
        {"missing section", "[Other]\r\nVolume=05\r\n", L"General", L"Volume", L""},
        {"misspelt section", "[OpPanel]\r\nIconBright=1b\r\n", L"OpPannel", L"IconBright", L""},
        {"missing key", "[General]\r\nBrightness=1d\r\n", L"General", L"Volume", L""},
        {"empty value", "[General]\r\nVolume=\r\n", L"General", L"Volume", L""},
        {"blank value", "[General]\r\nVolume=   \r\n", L"General", L"Volume", L""},
        {"no equals", "[General]\r\nVolume\r\n", L"General", L"Volume", L""},
        {"key of next section", "[General]\r\n[OSD]\r\nVolume=05\r\n", L"General", L"Volume", L""},
        {"key before sections", "Volume=05\r\n[General]\r\n", L"General", L"Volume", L""},
        {"first of two keys", "[General]\r\nVolume=05\r\nVolume=06\r\n", L"General", L"Volume",
         L"05"},
        {"comment lines", "; saved\r\n[General]\r\n;Volume=99\r\nVolume=05\r\n", L"General",
         L"Volume", L"05"},
        {"blank lines and indent", "\r\n\r\n  [General]  \r\n\r\n  Volume=05\r\n\r\n", L"General",
         L"Volume", L"05"},
        {"text after header", "[General] ; levels\r\nVolume=05\r\n", L"General", L"Volume", L"05"},
        {"header without bracket", "[General\r\nVolume=05\r\n", L"General", L"Volume", L""},
        {"utf-8 bom", "\xEF\xBB\xBF[General]\r\nVolume=05\r\n", L"General", L"Volume", L"05"},
        {"utf-16le bom", Utf16Le("[General]\r\nVolume=05\r\n"), L"General", L"Volume", L"05"},
        {"utf-16le lf", Utf16Le("[OSD]\nOSDEn=01\n"), L"osd", L"osden", L"01"},
        {"empty file", "", L"General", L"Volume", L""},
        {"long value cut", "[General]\r\nVolume=" + std::string(300, 'a') + "\r\n", L"General",
         L"Volume", std::wstring(259, L'a')},
        // The buffer is cut before the closing quote is dropped.
        {"quoted long value", "[General]\r\nVolume=\"" + std::string(259, 'c') + "\"\r\n",
         L"General", L"Volume", std::wstring(258, L'c')},
        {"quoted value of 257", "[General]\r\nVolume='" + std::string(257, 'd') + "'\r\n",
         L"General", L"Volume", std::wstring(257, L'd')},
        {"value of 259", "[General]\r\nVolume=" + std::string(259, 'b') + "\r\n", L"General",
         L"Volume", std::wstring(259, L'b')},
    };
}

struct WriteCase {
    const char* name;
    bool exists;       // false: the file is missing before the write
    std::string file;  // file bytes before the write
    std::wstring section;
    std::wstring key;
    std::wstring value;
    std::string expected;  // file bytes after the write (our implementation)
    bool canonical;        // the Windows function writes exactly these bytes too
};

inline std::vector<WriteCase> WriteCases() {
    return {
        {"new file", false, "", L"General", L"Volume", L"20", "[General]\r\nVolume=20\r\n", true},
        {"replace in place", true, "[General]\r\nVolume=05\r\nBrightness=1d\r\n", L"General",
         L"Volume", L"20", "[General]\r\nVolume=20\r\nBrightness=1d\r\n", true},
        {"same value", true, "[General]\r\nVolume=20\r\n", L"General", L"Volume", L"20",
         "[General]\r\nVolume=20\r\n", true},
        {"key at end of its section", true, "[General]\r\nVolume=05\r\n[OSD]\r\nOSDEn=01\r\n",
         L"General", L"Brightness", L"1d",
         "[General]\r\nVolume=05\r\nBrightness=1d\r\n[OSD]\r\nOSDEn=01\r\n", true},
        {"section at end of file", true, "[General]\r\nVolume=05\r\n", L"OSD", L"OSDEn", L"01",
         "[General]\r\nVolume=05\r\n[OSD]\r\nOSDEn=01\r\n", true},
        {"names matched without case", true, "[general]\r\nvolume=05\r\n", L"General", L"Volume",
         L"20", "[general]\r\nvolume=20\r\n", true},
        {"last line without line end", true, "[General]\r\nVolume=05", L"General", L"Brightness",
         L"1d", "[General]\r\nVolume=05\r\nBrightness=1d\r\n", true},
        {"new section after last line without line end", true, "[General]\r\nVolume=05", L"OSD",
         L"OSDEn", L"01", "[General]\r\nVolume=05\r\n[OSD]\r\nOSDEn=01\r\n", true},
        {"key without value", true, "[General]\r\nVolume\r\n", L"General", L"Volume", L"20",
         "[General]\r\nVolume=20\r\n", true},
        {"empty value filled", true, "[General]\r\nVolume=\r\n", L"General", L"Volume", L"20",
         "[General]\r\nVolume=20\r\n", true},
        {"comments kept", true, ";saved\r\n[General]\r\n;note\r\nVolume=05\r\n", L"General",
         L"Volume", L"20", ";saved\r\n[General]\r\n;note\r\nVolume=20\r\n", true},
        {"utf-8 bom kept", true, "\xEF\xBB\xBF[General]\r\nVolume=05\r\n", L"General", L"Volume",
         L"20", "\xEF\xBB\xBF[General]\r\nVolume=20\r\n", true},
        {"utf-16le kept", true, Utf16Le("[General]\r\nVolume=05\r\n"), L"General", L"Brightness",
         L"1d", Utf16Le("[General]\r\nVolume=05\r\nBrightness=1d\r\n"), true},
        // Our implementation keeps everything it does not have to change, byte for byte.
        {"lf line ends kept", true, "[General]\nVolume=05\n", L"General", L"Brightness", L"1d",
         "[General]\nVolume=05\nBrightness=1d\n", false},
        {"blank lines kept", true, "\r\n[General]\r\nVolume=05\r\n\r\n[OSD]\r\nOSDEn=01\r\n\r\n",
         L"General", L"Brightness", L"1d",
         "\r\n[General]\r\nVolume=05\r\nBrightness=1d\r\n\r\n[OSD]\r\nOSDEn=01\r\n\r\n", false},
        {"blanks around equals kept", true, "[General]\r\n  Volume = 05  \r\n", L"General",
         L"Volume", L"20", "[General]\r\n  Volume = 20  \r\n", false},
        {"other sections and keys kept", true,
         "[Extra]\r\nA=1\r\n\r\n[General]\r\nMine=x\r\nVolume=05\r\n; end\r\n\r\n[More]\r\nB=2",
         L"General", L"Brightness", L"1d",
         "[Extra]\r\nA=1\r\n\r\n[General]\r\nMine=x\r\nVolume=05\r\n; end\r\nBrightness=1d\r\n"
         "\r\n[More]\r\nB=2",
         false},
    };
}

// The names each write case's result is compared on when the bytes may differ.
struct Name {
    std::wstring section;
    std::wstring key;
};

inline std::vector<Name> ComparedNames() {
    return {{L"General", L"Volume"}, {L"General", L"Brightness"},
            {L"General", L"Mine"},   {L"OSD", L"OSDEn"},
            {L"Extra", L"A"},        {L"More", L"B"}};
}

}  // namespace profile_cases
