#pragma once

// The program's user documentation, printed on standard output.
void PrintUsage();
void PrintExamples();
void PrintSettingsDefinition();
// The long options, printed by --help after the three texts above.
void PrintLongOptions();

inline constexpr const char* kVersionText = "Version 1.0.6";
