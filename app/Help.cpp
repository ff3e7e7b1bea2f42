#include "app/Help.h"

#include "platform/Console.h"
#include "platform/Text.h"
#include "settings/SettingsItems.h"

namespace {

constexpr char kApostrophe = '\'';

}  // namespace

void PrintUsage() {
    ConsolePrintf("marvanecfgutil %s - Marvane Configuration utility\n", kVersionText);
    ConsolePrintf("Copyright (c) Marvane. All rights reserved.\n");
    ConsolePrintf("---\n\n");
    ConsolePrintf("USAGE: marvanecfgutil [options]\n\n");
    ConsolePrintf("WHERE OPTIONS are:\n\n");
    ConsolePrintf("  -o <filename> Retrieve the current device%cs configuration.\n", kApostrophe);
    ConsolePrintf("                Specify the name of the INI file in <filename>.\n\n");
    ConsolePrintf("  -g <filename> Generate a pre-defined INI file. Specify the\n");
    ConsolePrintf("                name of the INI file in <filename>.\n\n");
    ConsolePrintf("  -i <filename> Update devices using only INI file specified in\n");
    ConsolePrintf("                <filename>.\n\n");
    ConsolePrintf("  -L            List attached devices *1\n\n");
    ConsolePrintf("  -s <serial#>  Update device%cs configuration specified by the\n", kApostrophe);
    ConsolePrintf("                USB Serial Number: <serial#>\n\n");
    ConsolePrintf("  -v            Verbose logging to the console during execution\n\n");
    ConsolePrintf("  -l <log file> Specify the log file\n\n");
    ConsolePrintf("  -?            Usage (this message) and additional help information\n");
}

void PrintExamples() {
    ConsolePrintf("\n");
    ConsolePrintf("EXAMPLE COMMANDS:\n");
    ConsolePrintf("1.  List all attached devices with support for the update interface:\n");
    ConsolePrintf("\n");
    ConsolePrintf("       marvanecfgutil -L\n");
    ConsolePrintf("\n");
    ConsolePrintf("2.  Update attached device with the USB serial number 41-FFFFF\n");
    ConsolePrintf("    using INI file VornikMonCfg.ini:\n");
    ConsolePrintf("\n");
    ConsolePrintf("       marvanecfgutil -s 41-FFFFF -i VornikMonCfg.ini\n");
    ConsolePrintf("\n");
    ConsolePrintf("3.  Use the INI file named VornikMonCfg.ini and update all USB devices:\n");
    ConsolePrintf("\n");
    ConsolePrintf("       marvanecfgutil -i VornikMonCfg.ini\n");
    ConsolePrintf("\n");
    ConsolePrintf("4.  Generate an INI file named VornikMonCfg.ini of the first known device\n");
    ConsolePrintf("    attached:\n");
    ConsolePrintf("\n");
    ConsolePrintf("       marvanecfgutil -o VornikMonCfg.ini\n");
}

// The key lines take their names from the constants the INI reader and writer use, so the
// help and the files always name a key alike.
void PrintSettingsDefinition() {
    ConsolePrintf("\n\n");
    ConsolePrintf(" =============================\n");
    ConsolePrintf("| Monitor Settings Definition |\n");
    ConsolePrintf(" =============================\n\n");
    ConsolePrintf("[General]\n");
    ConsolePrintf("    %s=<HEX>\n", Narrow(kKeyVolume).c_str());
    ConsolePrintf("        Specify the master volume level. This sets the volume\n");
    ConsolePrintf("        for audio played via USB or DisplayPort as well as the\n");
    ConsolePrintf("        maximum volume for beep-on-touch and the POSTone \n");
    ConsolePrintf("        function. Valid range 00-28 hex, default=20\n\n");
    ConsolePrintf("    %s=<HEX>\n", Narrow(kKeyBrightness).c_str());
    ConsolePrintf("        Specify the monitor brightness level. Valid range 00-20\n");
    ConsolePrintf("        hex, default=1D\n\n");
    ConsolePrintf("    %s=<HEX>\n", Narrow(kKeyRmtPwrCtrl).c_str());
    ConsolePrintf("        Specify whether the monitor should power on and off automatically\n");
    ConsolePrintf("        based on the on and off automatically based on the host systems\n");
    ConsolePrintf("        power state. If enabled the monitor will power on when the host\n");
    ConsolePrintf("        system powers on and off when it powers off. The monitor power\n");
    ConsolePrintf("        button will not function.\n\n");
    ConsolePrintf("        00 - Disabled\n");
    ConsolePrintf("        01 - Enabled (default)\n\n");
    ConsolePrintf("    %s=<HEX>\n", Narrow(kKeyExtBLEn).c_str());
    ConsolePrintf("        Extended Backlight Life Enable - Specify whether the monitor should\n");
    ConsolePrintf("        use the backlight life enhancement function. Disabling this function\n");
    ConsolePrintf("        will in most cases increase the maximum monitor brightness but will\n");
    ConsolePrintf("        also reduce the backlight life. We do not recommend disabling this\n");
    ConsolePrintf(
        "        function except in extremly high ambient light conditions where maximum\n");
    ConsolePrintf("        available brightness is required.\n\n");
    ConsolePrintf("        00 - Disabled\n");
    ConsolePrintf("        01 - Enabled (default)\n\n");
    ConsolePrintf("[BeepOnTouch]\n");
    ConsolePrintf("    %s=<HEX>\n", Narrow(kKeyBOTFreq).c_str());
    ConsolePrintf("        Specify the beep-on-touch tone frequency\n\n");
    ConsolePrintf("        01 - 2000Hz\n");
    ConsolePrintf("        02 - 1300Hz (Default)\n");
    ConsolePrintf("        03 - 875Hz\n\n");
    ConsolePrintf("    %s=<HEX>\n", Narrow(kKeyBOTDur).c_str());
    ConsolePrintf(
        "        Specify the beep-on-touch tone duration, n * 100ms. Valid range 01-0A\n");
    ConsolePrintf("        hex, default=02\n\n");
    ConsolePrintf("    %s=<HEX>\n", Narrow(kKeyBOTVol).c_str());
    ConsolePrintf("        Specify the beep-on-touch tone relative volume Absolute volume is a\n");
    ConsolePrintf(
        "        combination of this and MasterVolume. Valid range 01-28 hex, default=18\n\n");
    ConsolePrintf("    %s=<HEX>\n", Narrow(kKeyBOTEvent).c_str());
    ConsolePrintf("        Specify when the beep-on-touch tone sounds\n\n");
    ConsolePrintf("        00h - Disable (no beep-on-touch tone)\n");
    ConsolePrintf("        01h - Finger Touch Down\n");
    ConsolePrintf("        02h - Finger Touch Up\n");
    ConsolePrintf("        03h - Both (i.e. Finger Touch Up and Down)\n\n");
    ConsolePrintf("[POSTone]\n");
    ConsolePrintf("    %s=<HEX>\n", Narrow(kKeyTone1Vol).c_str());
    ConsolePrintf(
        "        Specify the relative volume for the Soft POS Tone. Absolute volume is a\n");
    ConsolePrintf(
        "        combination of this and MasterVolume. Valid range 00-28 hex, default=18\n\n");
    ConsolePrintf("    %s=<HEX>\n", Narrow(kKeyTone2Vol).c_str());
    ConsolePrintf(
        "        Specify the relative volume for the Loud POS Tone. Absolute volume is a\n");
    ConsolePrintf(
        "        combination of this and MasterVolume. Valid range 00-28 hex, default=26\n\n");
    ConsolePrintf("[OpPannel]\n");
    ConsolePrintf("    %s=<HEX>\n", Narrow(kKeyIconBright).c_str());
    ConsolePrintf(
        "        Specify the brightness of Icons for active controls. Valid range 00-20\n");
    ConsolePrintf("        hex, default=1B\n\n");
    ConsolePrintf("[OSD]\n");
    ConsolePrintf("    %s=<HEX>\n", Narrow(kKeyOSDEn).c_str());
    ConsolePrintf("        Specify whether customers should be able to launch the OSD menus. If\n");
    ConsolePrintf("        disabled, none of the OSD menus will be available, i.e. the monitor\n");
    ConsolePrintf("        settings cannot be modified using the opertor panel controls.\n\n");
    ConsolePrintf("        00 - Disabled\n");
    ConsolePrintf("        01 - Enabled (default)\n\n");
    ConsolePrintf("    %s=<HEX>\n", Narrow(kKeyOSDRPCEn).c_str());
    ConsolePrintf(
        "        Specify whether customers should be able to Enable/Disable the Remote\n");
    ConsolePrintf(
        "        Power Control function via the OSD menus. If disabled, this selection\n");
    ConsolePrintf("        will not be operational in the OSD menu.\n\n");
    ConsolePrintf("        00 - Disabled\n");
    ConsolePrintf("        01 - Enabled (default)\n\n");
    ConsolePrintf("    %s=<HEX>\n", Narrow(kKeyOSDEBLEn).c_str());
    ConsolePrintf(
        "        Specify whether customers should be able to Enable/Disable the Extended\n");
    ConsolePrintf(
        "        Backlight Life function via the OSD menus. If disabled, this selection\n");
    ConsolePrintf("        will not be operational in the OSD menu.\n\n");
    ConsolePrintf("        00 - Disabled (default)\n");
    ConsolePrintf("        01 - Enabled\n\n");
    ConsolePrintf("    %s=<HEX>\n", Narrow(kKeyOSDIBCEn).c_str());
    ConsolePrintf(
        "        Specify whether customers should be able to adjust the Operator Pannel\n");
    ConsolePrintf(
        "        Icon Brightness via the OSD menus. If disabled, this control will not\n");
    ConsolePrintf("        be operational in the OSD menu.\n\n");
    ConsolePrintf("        00 - Disabled\n");
    ConsolePrintf("        01 - Enabled (default)\n\n");
    ConsolePrintf("    %s=<HEX>\n", Narrow(kKeyOSDVCEn).c_str());
    ConsolePrintf("        Specify whether customers should be able to adjust the master volume\n");
    ConsolePrintf(
        "        using the OSD menus. If disabled, this control will not be operational\n");
    ConsolePrintf("        in the OSD menu.\n\n");
    ConsolePrintf("        00 - Disabled\n");
    ConsolePrintf("        01 - Enabled (default)\n\n");
    ConsolePrintf("    %s=01\n", Narrow(kKeyOSDBCEn).c_str());
    ConsolePrintf("        Specify whether customers should be able to adjust the monitor\n");
    ConsolePrintf("        backlight brightness using the OSD menus. If disabled, this control\n");
    ConsolePrintf("        will not be operational in the OSD menu.\n\n");
    ConsolePrintf("        00 - Disabled\n");
    ConsolePrintf("        01 - Enabled (default)\n");
}

void PrintLongOptions() {
    ConsolePrintf("\n\nLONG OPTIONS (for scripts):\n\n");
    ConsolePrintf("  --check <filename>\n");
    ConsolePrintf("                Compare devices with the INI file <filename> (one device\n");
    ConsolePrintf("                with -s); nothing is written. Exit status: 0 all match,\n");
    ConsolePrintf("                2 a device differs, 1 error.\n\n");
    ConsolePrintf("  --if-needed   With -i: update only devices that differ from the file.\n\n");
    ConsolePrintf("  --json        With -L or --check: print one JSON document on standard\n");
    ConsolePrintf("                output; messages go to standard error.\n\n");
    ConsolePrintf("  --help        This help.\n\n");
    ConsolePrintf("  Long options also take their value as --check=<filename>.\n");
}
