// INI files read and written, for the settings tests and the comparison of our profile
// functions with the Windows ones.
#pragma once

#include <string>
#include <vector>

namespace profile_cases {

// ASCII text as UTF-16 with a byte-order mark, in either byte order.
inline std::string Utf16(const std::string& ascii, bool bigEndian = false) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char c : ascii) {
        bytes += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    }
    return bytes;
}

// Each file is read for the key "IconBright" of the section "OpPannel"; text is what the
// profile functions read ("" for nothing).
struct ReadCase {
    std::string name;
    std::string file;
    std::wstring text;
};

inline std::vector<ReadCase> ReadCases() {
    using namespace std::string_literals;
    const std::string p = "[OpPannel]\r\n";
    return {
        {"lf, cr, lf cr", "[OpPannel]\n\rX=1\rIconBright=1B\n\r", L"1B"},
        {"no final line end", p + "IconBright=05", L"05"},
        {"case and blanks around", "\r\n  [oPpANNEL]  \r\n \tiCONbRIGHT  = \t1d \t\r\n", L"1d"},
        {"blanks in brackets, text after ]", "[ OpPannel\t] ;p\r\nIconBright=1b\r\n", L"1b"},
        {"vt, ff, eof mark in brackets", "[\v\f\x1aOpPannel\x1a]\r\nIconBright=1b\r\n", L"1b"},
        {"blank inside a name", "[Op Pannel]\r\nIconBright=1b\r\n", L""},
        {"utf-8 bom", "\xEF\xBB\xBF" + p + "IconBright=05\r\n", L"05"},
        {"utf-16le bom", Utf16(p + "IconBright=05\r\n"), L"05"},
        {"utf-16be bom", Utf16("[\tOpPannel ]\nIconBright = 1b\n", true), L"1b"},
        {"utf-16 odd last byte", Utf16(p + "IconBright=1b") + "\x01", L"1b\x01"},
        {"comments", ";x\r\n[OpPannel] ;p\r\n;IconBright=19\r\n#IconBright=19\r\nIconBright=05",
         L"05"},
        {"comment after value", p + "IconBright=1b ;x\r\n", L"1b ;x"},
        {"equals before value", p + "IconBright==1b\r\n", L"=1b"},
        {"quoted", p + "IconBright=\"1b\"\r\n", L"1b"},
        {"single quoted", p + "IconBright= '1b' \r\n", L"1b"},
        {"quote unmatched", p + "IconBright=\"1b'\r\n", L"\"1b'"},
        {"duplicate key", p + "IconBright=05\r\nIconBright=1b\r\n", L"05"},
        {"key without =", p + "IconBright\r\nIconBright=05\r\n", L""},
        {"duplicate section", p + "X=1\r\n[opPannel]\r\nIconBright=05\r\n", L""},
        {"first of duplicate sections", p + "IconBright=05\r\n[OpPannel]\r\nIconBright=1b\r\n",
         L"05"},
        {"zero ends a value", p + "IconBright=1b\0x\r\n"s, L"1b"},
        {"zero ends a key", p + "IconBright\0x = 1b\r\n"s, L"1b"},
        {"zero ends a section", "[OpPannel\0x]\r\nIconBright=1b\r\n"s, L"1b"},
        {"zero after a blank", p + "IconBright \0x=1b\r\n"s, L""},
        {"missing key", p + "Icon=05\r\n", L""},
        {"section without ]", "[OpPannel\r\nIconBright=05\r\n", L""},
        {"key of next section", p + "[X]\r\nIconBright=05\r\n", L""},
        {"long value cut", p + "IconBright=" + std::string(300, 'a'), std::wstring(259, L'a')},
        {"long quoted value cut", p + "IconBright=\"" + std::string(2000, 'a') + "\"",
         std::wstring(259, L'a')},
    };
}

// The 17 default values as the settings writer writes them into a new file.
inline const std::string kDefaultFile =
    "[General]\r\nVolume=20\r\nBrightness=1d\r\nRmtPwrCtrl=01\r\nExtBLEn=01\r\n"
    "[BeepOnTouch]\r\nBOTFreq=02\r\nBOTDur=02\r\nBOTVol=18\r\nBOTEvent=01\r\n"
    "[POSTone]\r\nTone1Vol=18\r\nTone2Vol=26\r\n[OpPannel]\r\nIconBright=1b\r\n"
    "[OSD]\r\nOSDEn=01\r\nOSDRPCEn=01\r\nOSDEBLEn=00\r\nOSDIBCEn=01\r\nOSDVCEn=01\r\n"
    "OSDBCEn=01\r\n";

struct WriteCase {
    const char* name;
    std::string before;  // "": no file yet
    std::string after;
    // Wine's writer rewrites every line of a file it changes in its own spelling; Windows and
    // ours edit only the lines they must. Where Wine's spelling differs, only read back.
    bool spelledAsWine = true;
};

inline std::vector<WriteCase> WriteCases() {
    const std::string tail = kDefaultFile.substr(kDefaultFile.find("\r\n") + 2);
    std::string cr = kDefaultFile;
    for (size_t at = cr.find("\r\n"); at != std::string::npos; at = cr.find("\r\n", at)) {
        cr.erase(at + 1, 1);
    }
    const std::string others = kDefaultFile.substr(kDefaultFile.find("[BeepOnTouch]"));
    return {{"new", "", kDefaultFile},
            {"utf-16be", Utf16("[General]\r\nVolume=05\r\n", true), Utf16(kDefaultFile, true)},
            {"text in brackets", "[ General\t] ;c\r\nVolume=05\r\n", "[ General\t] ;c\r\n" + tail,
             false},
            {"cr line ends", "[General]\rVolume=05\r", cr, false},
            {"key without =", "[General]\r\nVolume\r\n", kDefaultFile},
            {"duplicate section", "[General]\r\nVolume=05\r\n[General]\r\nBrightness=00\r\n",
             "[General]\r\nVolume=20\r\nBrightness=1d\r\nRmtPwrCtrl=01\r\nExtBLEn=01\r\n"
             "[General]\r\nBrightness=00\r\n" +
                 others},
            {"edited",
             "; by hand\r\n[Site]\r\nName=till 4\r\n\r\n[general]\r\nvolume=05\r\nLocal=1\r\n"
             "Brightness=00\r\n[OSD]\r\n;locked\r\nOSDEn=00\r\n[Tail]\r\nX=1",
             "; by hand\r\n[Site]\r\nName=till 4\r\n\r\n[general]\r\nvolume=20\r\nLocal=1\r\n"
             "Brightness=1d\r\nRmtPwrCtrl=01\r\nExtBLEn=01\r\n[OSD]\r\n;locked\r\nOSDEn=01\r\n"
             "OSDRPCEn=01\r\nOSDEBLEn=00\r\nOSDIBCEn=01\r\nOSDVCEn=01\r\nOSDBCEn=01\r\n[Tail]\r\n"
             "X=1\r\n[BeepOnTouch]\r\nBOTFreq=02\r\nBOTDur=02\r\nBOTVol=18\r\nBOTEvent=01\r\n"
             "[POSTone]\r\nTone1Vol=18\r\nTone2Vol=26\r\n[OpPannel]\r\nIconBright=1b\r\n"}};
}

// Wine's profile writer drops the blank lines that Windows and ours keep.
inline std::string WithoutBlankLines(std::string text) {
    for (size_t at = text.find("\r\n\r\n"); at != std::string::npos; at = text.find("\r\n\r\n")) {
        text.erase(at, 2);
    }
    return text;
}

}  // namespace profile_cases
