#pragma once

// The program's user documentation, printed on standard output.
void PrintUsage();
void PrintExamples();
void PrintSettingsDefinition();

inline constexpr const char* kVersionText = "Version 1.0.6";
