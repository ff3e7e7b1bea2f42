// The user guide and the manual page describe the same options, keys, ranges, defaults and
// example commands as the program's option tables, help text and settings table.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/Options.h"
#include "platform/Text.h"
#include "settings/SettingsItems.h"

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
const std::string kHelp = ReadText(MARVANE_HELP_FILE);
const std::string kGuide = ReadText(MARVANE_DOCS_DIR "/marvanecfgutil-guide.txt");
// The manual page with "\-" read as "-".
const std::string kManual =
    std::regex_replace(ReadText(MARVANE_DOCS_DIR "/marvanecfgutil.1"), std::regex(R"(\\-)"), "-");

// The text from the line that starts with `first` up to the line that starts with `next`.
std::string Section(const std::string& text, const std::string& first, const std::string& next) {
    const size_t begin = text.find("\n" + first);
    EXPECT_NE(begin, std::string::npos) << first;
    return text.substr(begin, text.find("\n" + next, begin + 1) - begin);
}

// Each line (after a line `after`, when given) that matches `pattern` whole, as `format`.
std::vector<std::string> Matching(const std::string& text, const char* pattern, const char* format,
                                  const std::string& after = "") {
    const std::regex re(pattern);
    std::vector<std::string> found;
    std::istringstream in(text);
    std::string previous;
    for (std::string line; std::getline(in, line); previous = line) {
        std::smatch match;
        if ((after.empty() || previous == after) && std::regex_match(line, match, re)) {
            found.push_back(match.format(format));
        }
    }
    return found;
}

std::set<std::string> AsSet(const std::vector<std::string>& items) {
    return {items.begin(), items.end()};
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
    const char* usageLine = R"(^  (--?[\w?-]+)( +<)?.*)";
    EXPECT_EQ(AsSet(Matching(kHelp, usageLine, "$1$2")), shortOptions) << "help usage";
    const std::string guide =
        Section(kGuide, "2. Options", "3. ") + Section(kGuide, "5. Scripting", "6. Trying");
    EXPECT_EQ(AsSet(Matching(guide, usageLine, "$1$2")), allOptions) << "guide";
    // ".TP", then ".BI -o " file"" for an option with a value, ".B -L" for one without.
    const std::string manual = Section(kManual, ".SH OPTIONS", ".SH INI");
    std::set<std::string> described;
    for (const std::string& found : Matching(manual, R"(^\.B(I?) (--?[\w?-]+).*)", "$1$2", ".TP")) {
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
    EXPECT_EQ(Matching(kHelp, R"(^    (\w+)=.*)", "$1"), keys) << "help";
    EXPECT_EQ(Matching(kGuide,
                       R"(^  ([A-Za-z0-9]+) +([A-Za-z]+) +([0-9A-F]{2})-([0-9A-F]{2}) +)"
                       R"(([0-9A-F]{2}) .*)",
                       "$1 $2 $3-$4 $5"),
              rows)
        << "guide";
    std::vector<std::string> entries;
    std::string section, key, previous;
    std::istringstream in(Section(kManual, ".SH INI FILE", ".SH "));
    static const std::regex sectionLine(R"(^\.SS \[(\w+)\]$)"), keyLine(R"(^\.B (\w+)$)");
    static const std::regex range(R"(^([0-9A-F]{2})-([0-9A-F]{2}), default ([0-9A-F]{2})\.$)");
    for (std::string line; std::getline(in, line); previous = line) {
        std::smatch match;
        if (std::regex_match(line, match, sectionLine)) {
            section = match[1];
        } else if (previous == ".TP" && std::regex_match(line, match, keyLine)) {
            key = match[1];
        } else if (!key.empty() && std::regex_match(line, match, range)) {
            entries.push_back(key + " " + section + match.format(" $1-$2 $3"));
            key.clear();
        } else {
            key.clear();
        }
    }
    EXPECT_EQ(entries, rows) << "manual page";
}

// Every example command of the help appears in the guide and in the manual page's examples.
TEST(DocsTest, ExampleCommandsMatchTheHelp) {
    const std::vector<std::string> commands = Matching(kHelp, "^       (marvanecfgutil .*)", "$1");
    ASSERT_EQ(commands.size(), 4u);
    const std::string examples = Section(kManual, ".SH EXAMPLES", ".SH ");
    for (const std::string& command : commands) {
        EXPECT_NE(kGuide.find("\n  " + command + "\n"), std::string::npos) << command;
        EXPECT_NE(examples.find("\n" + command + "\n"), std::string::npos) << command;
    }
}

}  // namespace
