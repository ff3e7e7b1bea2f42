// The three help texts, byte for byte, and their agreement with the INI key names.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "app/Help.h"
#include "platform/Text.h"
#include "settings/SettingsItems.h"
#include "tests/support/CaptureStdout.h"

namespace {

const char* const kUsage =
    "marvanecfgutil Version 1.0.6 - Marvane Configuration utility\n"
    "Copyright (c) Marvane. All rights reserved.\n"
    "---\n"
    "\n"
    "USAGE: marvanecfgutil [options]\n"
    "\n"
    "WHERE OPTIONS are:\n"
    "\n"
    "  -o <filename> Retrieve the current device's configuration.\n"
    "                Specify the name of the INI file in <filename>.\n"
    "\n"
    "  -g <filename> Generate a pre-defined INI file. Specify the\n"
    "                name of the INI file in <filename>.\n"
    "\n"
    "  -i <filename> Update devices using only INI file specified in\n"
    "                <filename>.\n"
    "\n"
    "  -L            List attached devices *1\n"
    "\n"
    "  -s <serial#>  Update device's configuration specified by the\n"
    "                USB Serial Number: <serial#>\n"
    "\n"
    "  -v            Verbose logging to the console during execution\n"
    "\n"
    "  -l <log file> Specify the log file\n"
    "\n"
    "  -?            Usage (this message) and additional help information\n";

const char* const kExamples =
    "\n"
    "EXAMPLE COMMANDS:\n"
    "1.  List all attached devices with support for the update interface:\n"
    "\n"
    "       marvanecfgutil -L\n"
    "\n"
    "2.  Update attached device with the USB serial number 41-FFFFF\n"
    "    using INI file VornikMonCfg.ini:\n"
    "\n"
    "       marvanecfgutil -s 41-FFFFF -i VornikMonCfg.ini\n"
    "\n"
    "3.  Use the INI file named VornikMonCfg.ini and update all USB devices:\n"
    "\n"
    "       marvanecfgutil -i VornikMonCfg.ini\n"
    "\n"
    "4.  Generate an INI file named VornikMonCfg.ini of the first known device\n"
    "    attached:\n"
    "\n"
    "       marvanecfgutil -o VornikMonCfg.ini\n";

const char* const kSettingsDefinition =
    "\n"
    "\n"
    " =============================\n"
    "| Monitor Settings Definition |\n"
    " =============================\n"
    "\n"
    "[General]\n"
    "    Volume=<HEX>\n"
    "        Specify the master volume level. This sets the volume\n"
    "        for audio played via USB or DisplayPort as well as the\n"
    "        maximum volume for beep-on-touch and the POSTone \n"
    "        function. Valid range 00-28 hex, default=20\n"
    "\n"
    "    Brightness=<HEX>\n"
    "        Specify the monitor brightness level. Valid range 00-20\n"
    "        hex, default=1D\n"
    "\n"
    "    RmtPwrCtrl=<HEX>\n"
    "        Specify whether the monitor should power on and off automatically\n"
    "        based on the on and off automatically based on the host systems\n"
    "        power state. If enabled the monitor will power on when the host\n"
    "        system powers on and off when it powers off. The monitor power\n"
    "        button will not function.\n"
    "\n"
    "        00 - Disabled\n"
    "        01 - Enabled (default)\n"
    "\n"
    "    ExtBLEn=<HEX>\n"
    "        Extended Backlight Life Enable - Specify whether the monitor should\n"
    "        use the backlight life enhancement function. Disabling this function\n"
    "        will in most cases increase the maximum monitor brightness but will\n"
    "        also reduce the backlight life. We do not recommend disabling this\n"
    "        function except in extremly high ambient light conditions where maximum\n"
    "        available brightness is required.\n"
    "\n"
    "        00 - Disabled\n"
    "        01 - Enabled (default)\n"
    "\n"
    "[BeepOnTouch]\n"
    "    BOTFreq=<HEX>\n"
    "        Specify the beep-on-touch tone frequency\n"
    "\n"
    "        01 - 2000Hz\n"
    "        02 - 1300Hz (Default)\n"
    "        03 - 875Hz\n"
    "\n"
    "    BOTDur=<HEX>\n"
    "        Specify the beep-on-touch tone duration, n * 100ms. Valid range 01-0A\n"
    "        hex, default=02\n"
    "\n"
    "    BOTVol=<HEX>\n"
    "        Specify the beep-on-touch tone relative volume Absolute volume is a\n"
    "        combination of this and MasterVolume. Valid range 01-28 hex, default=18\n"
    "\n"
    "    BOTEvent=<HEX>\n"
    "        Specify when the beep-on-touch tone sounds\n"
    "\n"
    "        00h - Disable (no beep-on-touch tone)\n"
    "        01h - Finger Touch Down\n"
    "        02h - Finger Touch Up\n"
    "        03h - Both (i.e. Finger Touch Up and Down)\n"
    "\n"
    "[POSTone]\n"
    "    Tone1Vol=<HEX>\n"
    "        Specify the relative volume for the Soft POS Tone. Absolute volume is a\n"
    "        combination of this and MasterVolume. Valid range 00-28 hex, default=18\n"
    "\n"
    "    Tone2Vol=<HEX>\n"
    "        Specify the relative volume for the Loud POS Tone. Absolute volume is a\n"
    "        combination of this and MasterVolume. Valid range 00-28 hex, default=26\n"
    "\n"
    "[OpPannel]\n"
    "    IconBright=<HEX>\n"
    "        Specify the brightness of Icons for active controls. Valid range 00-20\n"
    "        hex, default=1B\n"
    "\n"
    "[OSD]\n"
    "    OSDEn=<HEX>\n"
    "        Specify whether customers should be able to launch the OSD menus. If\n"
    "        disabled, none of the OSD menus will be available, i.e. the monitor\n"
    "        settings cannot be modified using the opertor panel controls.\n"
    "\n"
    "        00 - Disabled\n"
    "        01 - Enabled (default)\n"
    "\n"
    "    OSDRPCEn=<HEX>\n"
    "        Specify whether customers should be able to Enable/Disable the Remote\n"
    "        Power Control function via the OSD menus. If disabled, this selection\n"
    "        will not be operational in the OSD menu.\n"
    "\n"
    "        00 - Disabled\n"
    "        01 - Enabled (default)\n"
    "\n"
    "    OSDEBLEn=<HEX>\n"
    "        Specify whether customers should be able to Enable/Disable the Extended\n"
    "        Backlight Life function via the OSD menus. If disabled, this selection\n"
    "        will not be operational in the OSD menu.\n"
    "\n"
    "        00 - Disabled (default)\n"
    "        01 - Enabled\n"
    "\n"
    "    OSDIBCEn=<HEX>\n"
    "        Specify whether customers should be able to adjust the Operator Pannel\n"
    "        Icon Brightness via the OSD menus. If disabled, this control will not\n"
    "        be operational in the OSD menu.\n"
    "\n"
    "        00 - Disabled\n"
    "        01 - Enabled (default)\n"
    "\n"
    "    OSDVCEn=<HEX>\n"
    "        Specify whether customers should be able to adjust the master volume\n"
    "        using the OSD menus. If disabled, this control will not be operational\n"
    "        in the OSD menu.\n"
    "\n"
    "        00 - Disabled\n"
    "        01 - Enabled (default)\n"
    "\n"
    "    OSDBCEn=01\n"
    "        Specify whether customers should be able to adjust the monitor\n"
    "        backlight brightness using the OSD menus. If disabled, this control\n"
    "        will not be operational in the OSD menu.\n"
    "\n"
    "        00 - Disabled\n"
    "        01 - Enabled (default)\n";

struct Printed {
    std::string out;
    std::string err;
};

template <typename Print>
Printed Capture(Print print) {
    CaptureOutput capture;
    print();
    Printed printed;
    printed.out = capture.out();
    printed.err = capture.err();
    return printed;
}

TEST(HelpTest, EachTextIsPrintedExactlyOnStandardOutput) {
    const struct {
        const char* name;
        void (*print)();
        const char* expected;
    } cases[] = {
        {"usage", PrintUsage, kUsage},
        {"examples", PrintExamples, kExamples},
        {"settings definition", PrintSettingsDefinition, kSettingsDefinition},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Printed printed = Capture(c.print);
        EXPECT_EQ(printed.out, c.expected);
        EXPECT_EQ(printed.err, "");
    }
}

// The help must name every key exactly as the INI reader and writer do, in table order.
TEST(HelpTest, SettingsDefinitionNamesTheIniKeysInTableOrder) {
    const std::string text = Capture(PrintSettingsDefinition).out;
    const std::regex keyLine(R"(\n    (\w+)=)");
    std::vector<std::string> printed;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), keyLine);
         it != std::sregex_iterator(); ++it) {
        printed.push_back((*it)[1].str());
    }
    std::vector<std::string> keys;
    for (const SettingsItem& item : kSettingsItems) {
        keys.push_back(Narrow(item.key));
    }
    EXPECT_EQ(printed, keys);
}

}  // namespace
