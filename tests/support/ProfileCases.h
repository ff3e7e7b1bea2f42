// INI files read and written: the same tables drive the settings tests and the comparison of
// our own private-profile functions with the Windows ones.
#pragma once

#include <cstdint>
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

// Bytes with zeros in them, written with '0' standing for each zero.
inline std::string WithZeros(std::string text) {
    for (char& c : text) {
        c = c == '0' ? '\0' : c;
    }
    return text;
}

// Each file is read for the key "IconBright" of the section "OpPannel", the one item alone in
// its section.
struct ReadCase {
    std::string name;
    std::string file;
    std::wstring text;  // what the profile functions read ("" for nothing)
    uint8_t value;      // what the settings read: two hex digits, or else the 0xFF marker
    // The settings tests add the other sections after the file; not where that would
    // change what it holds.
    bool completable = true;
};

inline std::vector<ReadCase> ReadCases() {
    const std::string p = "[OpPannel]\r\n";
    std::vector<ReadCase> cases = {
        {"crlf", p + "IconBright=1b\r\n", L"1b", 0x1B},
        {"lf, cr, lf cr", "[OpPannel]\n\rX=1\rIconBright=1B\n\r", L"1B", 0x1B},
        {"no final line end", p + "IconBright=05", L"05", 0x05},
        {"case and blanks around", "\r\n  [oPpANNEL]  \r\n\r\n \tiCONbRIGHT  = \t1d \t\r\n", L"1d",
         0x1D},
        {"blanks in brackets, text after ]", "[ OpPannel\t] ;p\r\nIconBright=1b\r\n", L"1b", 0x1B},
        {"vertical tab, form feed, eof mark in brackets",
         "[\v\f\x1aOpPannel\x1a]\r\nIconBright=1b\r\n", L"1b", 0x1B},
        {"blank inside a name", "[Op Pannel]\r\nIconBright=1b\r\n", L"", 0xFF},
        {"utf-8 bom", "\xEF\xBB\xBF" + p + "IconBright=05\r\n", L"05", 0x05},
        {"utf-16le bom", Utf16(p + "IconBright=05\r\n"), L"05", 0x05},
        {"utf-16be bom", Utf16("[\tOpPannel ]\nIconBright = 1b\n", true), L"1b", 0x1B},
        {"utf-16le odd last byte", Utf16(p + "IconBright=1b") + "\x01", L"1b\x01", 0xFF, false},
        {"utf-16be odd last byte", Utf16(p + "IconBright=1b", true) + "\x01", L"1b\x01", 0xFF,
         false},
        {"comments", ";x\r\n[OpPannel] ;p\r\n;IconBright=19\r\n#IconBright=19\r\nIconBright=05",
         L"05", 0x05},
        {"comment after value", p + "IconBright=1b ;x\r\n", L"1b ;x", 0xFF},
        {"equals before value", p + "IconBright==1b\r\n", L"=1b", 0xFF},
        {"quoted", p + "IconBright=\"1b\"\r\n", L"1b", 0x1B},
        {"single quoted", p + "IconBright= '1b' \r\n", L"1b", 0x1B},
        {"quote unmatched", p + "IconBright=\"1b'\r\n", L"\"1b'", 0xFF},
        {"duplicate key", p + "IconBright=05\r\nIconBright=1b\r\n", L"05", 0x05},
        {"key without =", p + "IconBright\r\nIconBright=05\r\n", L"", 0xFF},
        {"duplicate section", p + "X=1\r\n[opPannel]\r\nIconBright=05\r\n", L"", 0xFF},
        {"first of duplicate sections", p + "IconBright=05\r\n[OpPannel]\r\nIconBright=1b\r\n",
         L"05", 0x05},
        {"zero ends a value", p + WithZeros("IconBright=1b0x\r\n"), L"1b", 0x1B},
        {"zero ends a key", p + WithZeros("IconBright0x = 1b\r\n"), L"1b", 0x1B},
        {"zero ends a section", WithZeros("[OpPannel0x]\r\nIconBright=1b\r\n"), L"1b", 0x1B},
        {"zero after a blank", p + WithZeros("IconBright 0x=1b\r\n"), L"", 0xFF},
        {"missing key", p + "Icon=05\r\n", L"", 0xFF},
        {"misspelt section", "[OpPanel]\r\nIconBright=05\r\n", L"", 0xFF},
        {"section without ]", "[OpPannel\r\nIconBright=05\r\n", L"", 0xFF},
        {"key of next section", p + "[X]\r\nIconBright=05\r\n", L"", 0xFF},
        {"long value cut", p + "IconBright=" + std::string(300, 'a'), std::wstring(259, L'a'),
         0xFF},
        {"long quoted value cut", p + "IconBright=\"" + std::string(2000, 'a') + "\"",
         std::wstring(259, L'a'), 0xFF},
    };
    for (const std::string bad : {"5", "001", "0x", "+1", "-1", "1z", "ff"}) {
        cases.push_back({"value " + bad, p + "IconBright=" + bad + "\r\n",
                         std::wstring(bad.begin(), bad.end()), 0xFF});
    }
    return cases;
}

// The settings writer's 17 default values, one write each, into a new file and over files
// edited by hand.
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
    // Wine's writer rewrites every line of a file it changes, in its own spelling ("[ General ]"
    // becomes "[General]", line ends become CRLF); Windows and ours edit only the lines they
    // must. Where Wine's spelling differs, the files are compared by what they hold.
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
            {"utf-16", Utf16("[General]\r\nVolume=05\r\n"), Utf16(kDefaultFile)},
            {"utf-16be", Utf16("[General]\r\nVolume=05\r\n", true), Utf16(kDefaultFile, true)},
            {"blanks in brackets", "[ General ]\r\nVolume=05\r\n", "[ General ]\r\n" + tail, false},
            {"tab in brackets", "[General\t]\r\n", "[General\t]\r\n" + tail, false},
            {"text after ]", "[General] ;c\r\nVolume=05\r\n", "[General] ;c\r\n" + tail, false},
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
