// A settings file for the update tests and the reports it must produce on the wire.
#pragma once

#include <string>
#include <vector>

#include "devices_sim_fixture.h"

namespace devtest {

// Every value differs from the factory default, so a wrong source shows.
inline const char kApplyIni[] =
    "[General]\r\n"
    "Volume=15\r\n"
    "Brightness=1a\r\n"
    "RmtPwrCtrl=00\r\n"
    "ExtBLEn=00\r\n"
    "[BeepOnTouch]\r\n"
    "BOTFreq=03\r\n"
    "BOTDur=05\r\n"
    "BOTVol=10\r\n"
    "BOTEvent=02\r\n"
    "[POSTone]\r\n"
    "Tone1Vol=11\r\n"
    "Tone2Vol=22\r\n"
    "[OpPannel]\r\n"
    "IconBright=0C\r\n"
    "[OSD]\r\n"
    "OSDEn=00\r\n"
    "OSDRPCEn=00\r\n"
    "OSDEBLEn=01\r\n"
    "OSDIBCEn=00\r\n"
    "OSDVCEn=00\r\n"
    "OSDBCEn=00\r\n";

// The nine output reports of an update with kApplyIni and report id 01, in order: the
// update-mode reset, six records, the commit, the controller reset.
inline std::vector<std::string> ExpectedUpdateOuts(const std::string& serial) {
    return {
        OutLine(serial, {0x01, 0x04, 0x00, 0x01, 0x00}),
        OutLine(serial, {0x01, 0x06, 0x00, 0x02, 0x00, 0x01, 0xff, 0x00, 0x00, 0x01}),
        OutLine(serial, {0x01, 0x07, 0x00, 0x02, 0x00, 0x02, 0x10, 0x73, 0x52, 0x01, 0x01}),
        OutLine(serial,
                {0x01, 0x09, 0x00, 0x02, 0x00, 0x04, 0x10, 0x00, 0x00, 0x03, 0x05, 0x10, 0x02}),
        OutLine(serial, {0x01, 0x08, 0x00, 0x02, 0x00, 0x03, 0x10, 0x00, 0x10, 0x11, 0x22, 0x15}),
        OutLine(serial, {0x01, 0x0e, 0x00, 0x02, 0x00, 0x09, 0x10, 0x00, 0x20, 0x0c, 0x01, 0x01,
                         0x14, 0x64, 0x00, 0x00, 0x01, 0x01}),
        OutLine(serial, {0x01, 0x10, 0x00, 0x02, 0x00, 0x0b, 0x10, 0x00, 0x30, 0x00,
                         0x00, 0x01, 0x00, 0x00, 0x00, 0x14, 0x00, 0x1a, 0x00, 0x00}),
        OutLine(serial, {0x01, 0x05, 0x00, 0x02, 0x00}),
        OutLine(serial, {0x01, 0x04, 0x00, 0x00, 0x40}),
    };
}

// The monitor's configuration bytes after kApplyIni went in over `before`.
inline std::array<uint8_t, 64> ExpectedConfigAfterApply(std::array<uint8_t, 64> config) {
    const uint8_t bot[] = {0x03, 0x05, 0x10, 0x02};
    const uint8_t tones[] = {0x11, 0x22, 0x15};
    const uint8_t panel[] = {0x0c, 0x01, 0x01, 0x14, 0x64, 0x00, 0x00, 0x01, 0x01};
    const uint8_t osd[] = {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x14, 0x00, 0x1a, 0x00, 0x00};
    std::copy(std::begin(bot), std::end(bot), config.begin() + 0x00);
    std::copy(std::begin(tones), std::end(tones), config.begin() + 0x10);
    std::copy(std::begin(panel), std::end(panel), config.begin() + 0x20);
    std::copy(std::begin(osd), std::end(osd), config.begin() + 0x30);
    return config;
}

}  // namespace devtest
