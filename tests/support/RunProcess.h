// Runs a program as a user would, and collects what it printed and its exit status.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
    int exitStatus = -1;
    std::string out;  // standard output, "\r\n" turned into "\n" on Windows
    std::string err;  // standard error, likewise
};

// program: a path; arguments without the program name; workingDirectory: where it runs.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& workingDirectory);

// Path of a program built beside the running test program.
std::string BuiltProgram(const std::string& name);
