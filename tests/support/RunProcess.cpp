#include "tests/support/RunProcess.h"

#include <filesystem>

#include "platform/Paths.h"
#include "platform/Text.h"
#include "tests/support/ConsoleAndFiles.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
std::wstring Quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
        } else {
            if (c == L'"') {
                out.append(backslashes + 1, L'\\');  // escape the run and the quote
            }
            backslashes = 0;
        }
        out.push_back(c);
    }
    out.append(backslashes, L'\\');
    out.push_back(L'"');
    return out;
}

HANDLE InheritableFile(const std::wstring& path) {
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}
#endif

}  // namespace

std::string BuiltProgram(const std::string& name) {
    return Narrow(ExecutableDirectory()) + static_cast<char>(kPathSeparator) + name;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& workingDirectory) {
    TempDir outputDir;
    const std::string outPath = outputDir.file("stdout");
    const std::string errPath = outputDir.file("stderr");
    ProcessResult result;
#ifdef _WIN32
    std::wstring commandLine = Quoted(Widen(program));
    for (const auto& argument : arguments) {
        commandLine += L" " + Quoted(Widen(argument));
    }
    HANDLE out = InheritableFile(Widen(outPath));
    HANDLE err = InheritableFile(Widen(errPath));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const std::wstring directory = Widen(workingDirectory);
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       directory.c_str(), &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result.exitStatus = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(out);
    CloseHandle(err);
#else
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
            chdir(workingDirectory.c_str()) != 0) {
            _exit(127);
        }
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    }
#endif
    result.out = WithoutCrLf(ReadFileBytes(outPath));
    result.err = WithoutCrLf(ReadFileBytes(errPath));
    return result;
}
