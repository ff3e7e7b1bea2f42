// What a test sees of the console and the file system: the output captured at the descriptor
// level (so everything printed through the console path is seen exactly), a scratch folder,
// and whole files read and written as bytes.
#pragma once

#include <string>

class CaptureOutput {
public:
    CaptureOutput();
    ~CaptureOutput();
    CaptureOutput(const CaptureOutput&) = delete;
    CaptureOutput& operator=(const CaptureOutput&) = delete;

    // Stops capturing (once) and returns the text with Windows text-mode "\r\n" turned
    // back into "\n", so expectations read the same in both builds.
    std::string out();
    std::string err();

private:
    void stop();
    bool stopped = false;
    int savedOut = -1;
    int savedErr = -1;
    std::string outPath;
    std::string errPath;
    std::string outText;
    std::string errText;
};

// A fresh empty directory for a test's files, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return dirPath; }
    // path() + separator + name
    std::string file(const std::string& name) const;
    std::wstring wfile(const std::string& name) const;

private:
    std::string dirPath;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// Windows text-mode "\r\n" back into "\n" (a no-op elsewhere).
std::string WithoutCrLf(std::string text);
