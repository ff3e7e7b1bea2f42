// Our own private-profile reading against the Windows functions on the same files must
// agree (writing: the settings tests read each written file back and pin our bytes).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/PrivateProfile.h"
#include "platform/Text.h"
#include "tests/support/ConsoleAndFiles.h"
#include "tests/support/ProfileCases.h"

namespace {

// Names asked of every read case besides the case's own: another spelling of it, and names
// the file does not hold.
const std::vector<std::pair<std::wstring, std::wstring>> kOtherNames = {
    {L" opPANNEL\t", L"\ticonbright "}, {L"General", L"Volume"}, {L"", L"IconBright"}};

TEST(ProfileDifferentialTest, ReadTableAgrees) {
    TempDir dir;
    size_t n = 0;
    for (const auto& c : profile_cases::ReadCases()) {
        // The system caches files by name: each case gets a name of its own.
        const std::wstring path = dir.wfile("r" + std::to_string(n++) + ".ini");
        WriteFileBytes(Narrow(path), c.file);
        // All names in one reading of the file, as the settings read them.
        std::vector<ProfileQuery> queries{{L"OpPannel", L"IconBright", L"junk", 7}};
        for (const auto& [section, key] : kOtherNames) {
            queries.push_back({section, key, L"junk", 7});
        }
        portable_profile::ReadStrings(path, queries);
        for (const ProfileQuery& query : queries) {
            std::wstring expected;
            EXPECT_EQ(query.count, ProfileReadString(query.section, query.key, path, expected))
                << c.name << " " << Narrow(query.key);
            EXPECT_EQ(query.value, expected) << c.name << " " << Narrow(query.key);
        }
    }
}

}  // namespace
