// Arbitrary bytes as an INI file: through the settings reader (file, range checks, write
// block) and through our private-profile reader and writer, which must keep their promises
// on any input: a value read fits the 260-character buffer, several names read in one pass
// read as each alone, a written value reads back, and a write changes no other value.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/PrivateProfile.h"
#include "settings/KemoHWData.h"
#include "settings/SettingsItems.h"

namespace {

std::string& IniPath() {
    static std::string path;
    return path;
}

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_ini: %s\n", what);
        std::abort();
    }
}

struct Name {
    const wchar_t* section;
    const wchar_t* key;
};

// The settings items and a few names with blanks, another case and no section.
Name NameAt(size_t index) {
    static const Name extra[] = {{L" general ", L" VOLUME "}, {L"", L"Volume"}, {L"a", L"b"}};
    if (index < kSettingsItems.size()) {
        return {kSettingsItems[index].section, kSettingsItems[index].key};
    }
    return extra[(index - kSettingsItems.size()) % std::size(extra)];
}
constexpr size_t kNameCount = kSettingsItems.size() + 3;

// Names match after removing blanks around them and without regard to case.
std::wstring Folded(const wchar_t* text) {
    std::wstring name(text);
    const size_t begin = name.find_first_not_of(L" ");
    if (begin == std::wstring::npos) {
        return {};
    }
    name = name.substr(begin, name.find_last_not_of(L" ") - begin + 1);
    for (wchar_t& c : name) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return name;
}

bool SameName(const Name& a, const Name& b) {
    return Folded(a.section) == Folded(b.section) && Folded(a.key) == Folded(b.key);
}

// Writes one name and checks it and three others, all chosen by the input's last bytes
// (checking every name on every input would slow the bounded runs down too much).
void FuzzProfileText(const std::string& bytes) {
    const auto pick = [&bytes](size_t back) {
        return bytes.size() >= back ? static_cast<unsigned char>(bytes[bytes.size() - back]) : 0u;
    };
    const unsigned selector = pick(1);
    const size_t checked[4] = {selector % kNameCount, pick(2) % kNameCount, pick(3) % kNameCount,
                               pick(4) % kNameCount};
    std::wstring before[4];
    std::vector<ProfileQuery> queries;
    for (size_t i = 0; i < 4; ++i) {
        const Name name = NameAt(checked[i]);
        const uint32_t count =
            portable_profile::ReadStringFromBytes(bytes, name.section, name.key, before[i]);
        Check(count == before[i].size(), "count differs from the value's length");
        Check(count <= 259, "value longer than the buffer");
        queries.push_back({name.section, name.key, L"junk", 7});
    }
    // The settings ask for all their values in one pass: it must answer each as alone.
    portable_profile::ReadStringsFromBytes(bytes, queries);
    for (size_t i = 0; i < 4; ++i) {
        Check(queries[i].value == before[i] && queries[i].count == before[i].size(),
              "one pass for several names reads differently");
    }

    const Name name = NameAt(checked[0]);
    const bool plain = (selector & 0x80) != 0;
    std::string written;
    portable_profile::WriteStringToBytes(bytes, name.section, name.key, plain ? L"1d" : L"'x y'",
                                         written);
    std::wstring readBack;
    portable_profile::ReadStringFromBytes(written, name.section, name.key, readBack);
    Check(readBack == (plain ? L"1d" : L"x y"), "written value does not read back");
    for (size_t i = 1; i < 4; ++i) {
        const Name other = NameAt(checked[i]);
        if (!SameName(other, name)) {
            std::wstring after;
            portable_profile::ReadStringFromBytes(written, other.section, other.key, after);
            Check(after == before[i], "a write changed another value");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The range check prints its messages; keep the fuzzer's own output readable.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        return 0;
    }
    const char* dir = std::getenv("TMPDIR");
    IniPath() = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/marvane-fuzz-" +
                std::to_string(getpid()) + ".ini";
    std::atexit([] { unlink(IniPath().c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    FuzzProfileText(bytes);

    FILE* file = std::fopen(IniPath().c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    const bool complete = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !complete) {
        return 0;
    }
    const std::wstring path(IniPath().begin(), IniPath().end());
    KemoHWData settings;
    const auto blockBefore = settings.CfgBlock();
    const bool built = settings.SetCfgBytes(path);
    if (built) {
        // Nothing outside the ranges may reach the block.
        for (const SettingsItem& item : kSettingsItems) {
            const uint8_t value = settings.CfgBlock()[item.blockOffset];
            Check(value >= item.min && value <= item.max, "block holds a value out of range");
        }
    } else {
        Check(settings.CfgBlock() == blockBefore, "failed read changed the block");
    }
    std::wstring value;
    portable_profile::ReadString(L"General", L"Volume", path, value);
    return 0;
}
