// INI files read and written: the same tables drive the settings tests and the comparison of
// our own private-profile functions with the Windows ones.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace profile_cases {

inline std::string Utf16Le(const std::string& ascii) {
    std::string bytes = "\xFF\xFE";
    for (const char c : ascii) {
        bytes += {c, '\0'};
    }
    return bytes;
}

// Each file is read for the key "IconBright" of the section "OpPannel", the one item alone in
// its section.
struct ReadCase {
    std::string name;
    std::string file;
    std::wstring text;  // what the profile functions read ("" for nothing)
    uint8_t value;      // what the settings read: two hex digits, or else the 0xFF marker
};

inline std::vector<ReadCase> ReadCases() {
    const std::string p = "[OpPannel]\r\n";
    std::vector<ReadCase> cases = {
        {"crlf", p + "IconBright=1b\r\n", L"1b", 0x1B},
        {"lf", "[OpPannel]\nIconBright=1B\n", L"1B", 0x1B},
        {"no final line end", p + "IconBright=05", L"05", 0x05},
        {"case of names", "[oPpANNEL]\r\niCONbRIGHT=1D\r\n", L"1D", 0x1D},
        {"blanks around", "\r\n  [OpPannel]  \r\n\r\n \tIconBright  = \t1d \t\r\n", L"1d", 0x1D},
        {"utf-8 bom", "\xEF\xBB\xBF" + p + "IconBright=05\r\n", L"05", 0x05},
        {"utf-16le bom", Utf16Le(p + "IconBright=05\r\n"), L"05", 0x05},
        {"comments", ";x\r\n[OpPannel] ;p\r\n;IconBright=19\r\nIconBright=05\r\n", L"05", 0x05},
        {"missing key", p + "Icon=05\r\n", L"", 0xFF},
        {"misspelt section", "[OpPanel]\r\nIconBright=05\r\n", L"", 0xFF},
        {"missing section", "[Other]\r\nIconBright=05\r\n", L"", 0xFF},
        {"key of next section", p + "[X]\r\nIconBright=05\r\n", L"", 0xFF},
        {"long value cut", p + "IconBright=" + std::string(300, 'a'), std::wstring(259, L'a'),
         0xFF},
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
};

inline std::vector<WriteCase> WriteCases() {
    return {{"new", "", kDefaultFile},
            {"utf-16", Utf16Le("[General]\r\nVolume=05\r\n"), Utf16Le(kDefaultFile)},
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
