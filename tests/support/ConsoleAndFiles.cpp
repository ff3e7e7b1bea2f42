#include "tests/support/ConsoleAndFiles.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/Console.h"
#include "platform/Text.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define close _close
#define fileno _fileno
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

std::string UniqueName(const char* prefix) {
    static std::mt19937_64 random{std::random_device{}()};
    std::ostringstream name;
    name << prefix << std::hex << random();
    return name.str();
}

int Redirect(FILE* stream, const std::string& path) {
    std::fflush(stream);
    const int saved = dup(fileno(stream));
    FILE* file = std::fopen(path.c_str(), "wb");
    dup2(fileno(file), fileno(stream));
    std::fclose(file);
    return saved;
}

void Restore(FILE* stream, int saved) {
    std::fflush(stream);
    dup2(saved, fileno(stream));
    close(saved);
}

}  // namespace

CaptureOutput::CaptureOutput() {
    const auto dir = std::filesystem::temp_directory_path();
    outPath = (dir / UniqueName("marvane-out-")).string();
    errPath = (dir / UniqueName("marvane-err-")).string();
    ConsoleFlush();
    savedOut = Redirect(stdout, outPath);
    savedErr = Redirect(stderr, errPath);
}

CaptureOutput::~CaptureOutput() {
    stop();
}

void CaptureOutput::stop() {
    if (stopped) {
        return;
    }
    stopped = true;
    ConsoleFlush();
    Restore(stdout, savedOut);
    Restore(stderr, savedErr);
    outText = WithoutCrLf(ReadFileBytes(outPath));
    errText = WithoutCrLf(ReadFileBytes(errPath));
    std::error_code ignored;
    std::filesystem::remove(outPath, ignored);
    std::filesystem::remove(errPath, ignored);
}

std::string CaptureOutput::out() {
    stop();
    return outText;
}

std::string CaptureOutput::err() {
    stop();
    return errText;
}

TempDir::TempDir() {
    const auto dir = std::filesystem::temp_directory_path() / UniqueName("marvane-test-");
    std::filesystem::create_directories(dir);
    dirPath = dir.string();
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(dirPath, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(dirPath, ignored);
}

std::string TempDir::file(const std::string& name) const {
    return (std::filesystem::path(dirPath) / name).string();
}

std::wstring TempDir::wfile(const std::string& name) const {
    return Widen(file(name));
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string WithoutCrLf(std::string text) {
#ifdef _WIN32
    size_t kept = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n') {
            text[kept++] = text[i];
        }
    }
    text.resize(kept);
#endif
    return text;
}

bool FileExists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}
