// Output captured at the descriptor level (all the console path prints), a scratch folder,
// and whole files as bytes.
#pragma once

#include <string>

class CaptureOutput {
public:
    CaptureOutput();
    ~CaptureOutput() { stop(); }
    CaptureOutput(const CaptureOutput&) = delete;
    CaptureOutput& operator=(const CaptureOutput&) = delete;

    // Stop capturing (once) and give the text, Windows text-mode "\r\n" back as "\n".
    std::string out() { return stop(), text[0]; }
    std::string err() { return stop(), text[1]; }

private:
    void stop();
    int saved[2] = {-1, -1};
    std::string path[2], text[2];
};

// A fresh empty directory for a test's files, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return dirPath; }
    std::string file(const std::string& name) const;  // path() + separator + name
    std::wstring wfile(const std::string& name) const;

private:
    std::string dirPath;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// Windows text-mode "\r\n" back into "\n" (a no-op elsewhere).
std::string WithoutCrLf(std::string text);
