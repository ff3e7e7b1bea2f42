// Arbitrary bytes as an INI file, through the settings reader and our profile functions: a
// value fits the 260-character buffer, one pass reads as single reads, a written value reads
// back and a write changes no other value.
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

std::string iniPath;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_ini: %s\n", what);
        std::abort();
    }
}

// The settings items, then names with blanks, another case and no section.
const size_t kItems = kSettingsItems.size();
std::pair<const wchar_t*, const wchar_t*> NameAt(size_t index) {
    static const std::pair<const wchar_t*, const wchar_t*> extra[] = {
        {L" general ", L" VOLUME "}, {L"", L"Volume"}, {L"a", L"b"}};
    return index < kItems ? std::pair(kSettingsItems[index].section, kSettingsItems[index].key)
                          : extra[index - kItems];
}

// Writes one name and checks it and three others, chosen by the input's last bytes (all of
// them on every input would be too slow).
void FuzzProfileText(const std::string& bytes) {
    size_t checked[4];
    for (size_t i = 0; i < 4; ++i) {
        checked[i] = bytes.size() > i ? static_cast<uint8_t>(bytes[bytes.size() - 1 - i]) : 0u;
        checked[i] %= kItems + 3;
    }
    std::wstring before[4];
    std::vector<ProfileQuery> queries;
    for (size_t i = 0; i < 4; ++i) {
        const auto [section, key] = NameAt(checked[i]);
        const uint32_t count =
            portable_profile::ReadStringFromBytes(bytes, section, key, before[i]);
        Check(count == before[i].size() && count <= 259, "count wrong or over the buffer");
        queries.push_back({section, key, L"junk", 7});
    }
    portable_profile::ReadStringsFromBytes(bytes, queries);
    for (size_t i = 0; i < 4; ++i) {
        Check(queries[i].value == before[i] && queries[i].count == before[i].size(),
              "one pass for several names reads differently");
    }

    const auto [section, key] = NameAt(checked[0]);
    const bool plain = bytes.empty() || (bytes.back() & 0x80) != 0;
    std::string written;
    std::wstring value;
    portable_profile::WriteStringToBytes(bytes, section, key, plain ? L"1d" : L"'x y'", written);
    portable_profile::ReadStringFromBytes(written, section, key, value);
    Check(value == (plain ? L"1d" : L"x y"), "written value does not read back");
    // The items are distinct names; the extra ones may be spellings of them.
    for (size_t i = 1; i < 4 && checked[0] < kItems; ++i) {
        if (checked[i] != checked[0] && checked[i] < kItems) {
            const auto [otherSection, otherKey] = NameAt(checked[i]);
            portable_profile::ReadStringFromBytes(written, otherSection, otherKey, value);
            Check(value == before[i], "a write changed another value");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The range check prints its messages; keep the fuzzer's own output readable.
    Check(std::freopen("/dev/null", "w", stdout) != nullptr, "stdout");
    const char* dir = std::getenv("TMPDIR");
    iniPath = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/marvane-fuzz-" +
              std::to_string(getpid()) + ".ini";
    std::atexit([] { unlink(iniPath.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    FuzzProfileText(bytes);

    FILE* file = std::fopen(iniPath.c_str(), "wb");
    Check(file != nullptr && std::fwrite(bytes.data(), 1, size, file) == size &&
              std::fclose(file) == 0,
          "scratch file");
    KemoHWData settings;
    const auto blockBefore = settings.CfgBlock();
    if (settings.SetCfgBytes(std::wstring(iniPath.begin(), iniPath.end()))) {
        for (const SettingsItem& item : kSettingsItems) {
            const uint8_t value = settings.CfgBlock()[item.blockOffset];
            Check(value >= item.min && value <= item.max, "block holds a value out of range");
        }
    } else {
        Check(settings.CfgBlock() == blockBefore, "failed read changed the block");
    }
    return 0;
}
