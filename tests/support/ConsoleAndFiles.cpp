#include "tests/support/ConsoleAndFiles.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/Console.h"
#include "platform/Text.h"

#ifdef _WIN32
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define close _close
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

std::string UniqueName(const char* prefix) {
    static std::mt19937_64 random{std::random_device{}()};
    std::ostringstream name;
    name << prefix << std::hex << random();
    return (fs::temp_directory_path() / name.str()).string();
}

FILE* Stream(int i) {
    return i == 0 ? stdout : stderr;
}

}  // namespace

CaptureOutput::CaptureOutput() {
    ConsoleFlush();
    for (int i = 0; i < 2; ++i) {
        path[i] = UniqueName("marvane-capture-");
        std::fflush(Stream(i));
        saved[i] = dup(fileno(Stream(i)));
        FILE* file = std::fopen(path[i].c_str(), "wb");
        dup2(fileno(file), fileno(Stream(i)));
        std::fclose(file);
    }
}

void CaptureOutput::stop() {
    if (saved[0] < 0) {
        return;
    }
    ConsoleFlush();
    for (int i = 0; i < 2; ++i) {
        std::fflush(Stream(i));
        dup2(saved[i], fileno(Stream(i)));
        close(saved[i]);
        saved[i] = -1;
        text[i] = WithoutCrLf(ReadFileBytes(path[i]));
        std::error_code ignored;
        fs::remove(path[i], ignored);
    }
}

TempDir::TempDir() : dirPath(UniqueName("marvane-test-")) {
    fs::create_directories(dirPath);
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::permissions(dirPath, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dirPath, ignored);
}

std::string TempDir::file(const std::string& name) const {
    return (fs::path(dirPath) / name).string();
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
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string WithoutCrLf(std::string text) {
#ifdef _WIN32
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
#endif
    return text;
}

bool FileExists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}
