// The user guide and the manual page describe the same options, keys, ranges, defaults and
// example commands as the program's option tables, help text and settings table.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "app/Options.h"
#include "platform/Text.h"
#include "settings/SettingsItems.h"
#include "tests/support/ConsoleAndFiles.h"

namespace {

const std::string kHelp = ReadFileBytes(MARVANE_HELP_FILE);
const std::string kGuide = ReadFileBytes(MARVANE_DOCS_DIR "/marvanecfgutil-guide.txt");
// The manual page with "\-" read as "-".
const std::string kManual = std::regex_replace(ReadFileBytes(MARVANE_DOCS_DIR "/marvanecfgutil.1"),
                                               std::regex(R"(\\-)"), "-");

// The text from the line that starts with `first` up to the line that starts with `next`.
std::string Section(const std::string& text, const std::string& first, const std::string& next) {
    const size_t begin = text.find("\n" + first);
    EXPECT_NE(begin, std::string::npos) << first;
    return text.substr(begin, text.find("\n" + next, begin + 1) - begin);
}

// Every match of `pattern` in `text`, as `format`; "\n" in a pattern stands for a line start.
std::vector<std::string> All(const std::string& text, const char* pattern, const char* format) {
    std::vector<std::string> found;
    const std::regex re(pattern);
    for (std::sregex_iterator m(text.begin(), text.end(), re), end; m != end; ++m) {
        found.push_back(m->format(format));
    }
    return found;
}

std::set<std::string> AsSet(const std::vector<std::string>& v) {
    return {v.begin(), v.end()};
}

// Each option as "-o <" when it takes a value, "-L" when not.
TEST(DocsTest, EveryOptionIsDescribedAlikeEverywhere) {
    std::set<std::string> shortOptions;
    for (const char* c = kOptionString; *c != '\0'; ++c) {
        if (*c != ':') {
            shortOptions.insert(std::string("-") + *c + (c[1] == ':' ? " <" : ""));
        }
    }
    std::set<std::string> allOptions = shortOptions;
    for (const LongOption& option : kLongOptions) {
        allOptions.insert("--" + std::string(option.name) + (option.takesArgument ? " <" : ""));
    }
    const char* usageLine = R"(\n  (--?[\w?-]+)( +<)?)";
    EXPECT_EQ(AsSet(All(kHelp, usageLine, "$1$2")), shortOptions) << "help usage";
    const std::string guide =
        Section(kGuide, "2. Options", "3. ") + Section(kGuide, "5. Scripting", "6. Trying");
    EXPECT_EQ(AsSet(All(guide, usageLine, "$1$2")), allOptions) << "guide";
    // ".TP", then ".BI -o " file"" for an option with a value, ".B -L" for one without.
    std::set<std::string> described;
    for (const std::string& found : All(Section(kManual, ".SH OPTIONS", ".SH INI"),
                                        R"(\n\.TP\n\.B(I?) (--?[\w?-]+))", "$1$2")) {
        described.insert(found[0] == 'I' ? found.substr(1) + " <" : found);
    }
    EXPECT_EQ(described, allOptions) << "manual page";
}

// The help defines the keys in table order; the guide's table ("  Volume      General      00-28
// 20       master volume") and the manual page (".SS [Section]", then per key ".TP", ".B Key",
// "00-28, default 20.") give each key's section, range and default.
TEST(DocsTest, EveryKeyIsDescribedAlikeEverywhere) {
    std::vector<std::string> keys, rows;
    for (const SettingsItem& item : kSettingsItems) {
        char range[16];
        std::snprintf(range, sizeof range, " %02X-%02X %02X", item.min, item.max, item.def);
        keys.push_back(Narrow(item.key));
        rows.push_back(Narrow(item.key) + " " + Narrow(item.section) + range);
    }
    EXPECT_EQ(All(kHelp, R"(\n    (\w+)=)", "$1"), keys) << "help";
    EXPECT_EQ(All(kGuide,
                  R"(\n  ([A-Za-z0-9]+) +([A-Za-z]+) +([0-9A-F]{2})-([0-9A-F]{2}) +([0-9A-F]{2}) )",
                  "$1 $2 $3-$4 $5"),
              rows)
        << "guide";
    const std::string manual = Section(kManual, ".SH INI FILE", ".SH ");
    const std::regex entry(R"(\n\.SS \[(\w+)\]|\n\.TP\n\.B (\w+)\n)"
                           R"(([0-9A-F]{2})-([0-9A-F]{2}), default ([0-9A-F]{2})\.(?=\n))");
    std::vector<std::string> entries;
    std::string section;
    for (std::sregex_iterator m(manual.begin(), manual.end(), entry), end; m != end; ++m) {
        if ((*m)[1].matched) {
            section = (*m)[1];
        } else {
            entries.push_back(m->format("$2 ") + section + m->format(" $3-$4 $5"));
        }
    }
    EXPECT_EQ(entries, rows) << "manual page";
}

// Every example command of the help appears in the guide and in the manual page's examples.
TEST(DocsTest, ExampleCommandsMatchTheHelp) {
    const std::vector<std::string> commands = All(kHelp, "\n       (marvanecfgutil .*)", "$1");
    ASSERT_EQ(commands.size(), 4u);
    const std::string examples = Section(kManual, ".SH EXAMPLES", ".SH ");
    for (const std::string& command : commands) {
        EXPECT_NE(kGuide.find("\n  " + command + "\n"), std::string::npos) << command;
        EXPECT_NE(examples.find("\n" + command + "\n"), std::string::npos) << command;
    }
}

}  // namespace
