// The user guide and the manual page describe the same options, keys, ranges and defaults
// as the program's option string, help text and settings table, so neither can drift.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/Options.h"
#include "platform/Text.h"
#include "settings/SettingsItems.h"

namespace {

const std::string kHelp[] = {
#include "tests/data/app/help.inc"
};
const std::string& kUsage = kHelp[0];
const std::string& kExamples = kHelp[1];
const std::string& kDefinition = kHelp[2];

std::string ReadDoc(const std::string& name) {
    std::ifstream in(std::string(MARVANE_DOCS_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The text from the line that starts with `first` up to the line that starts with `next`.
std::string Section(const std::string& text, const std::string& first, const std::string& next) {
    const size_t begin = text.find("\n" + first);
    EXPECT_NE(begin, std::string::npos) << first;
    const size_t end = text.find("\n" + next, begin + 1);
    return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

// Each line that matches `pattern` whole, rewritten as `format` ("$1 $2").
std::vector<std::string> Matching(const std::string& text, const char* pattern,
                                  const char* format) {
    const std::regex re(pattern);
    std::vector<std::string> found;
    for (const std::string& line : Lines(text)) {
        std::smatch match;
        if (std::regex_match(line, match, re)) {
            found.push_back(match.format(format));
        }
    }
    return found;
}

std::string Hex(uint8_t value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

// "Key Section 00-28 20" for every key, in table order.
std::vector<std::string> KeyRows() {
    std::vector<std::string> rows;
    for (const SettingsItem& item : kSettingsItems) {
        rows.push_back(Narrow(item.key) + " " + Narrow(item.section) + " " + Hex(item.min) + "-" +
                       Hex(item.max) + " " + Hex(item.def));
    }
    return rows;
}

// Option letter -> whether it takes an argument.
using Options = std::map<char, bool>;

Options FromOptionString() {
    Options options;
    for (const char* c = kOptionString; *c != '\0'; ++c) {
        if (*c != ':') {
            options[*c] = c[1] == ':';
        }
    }
    return options;
}

// Lines "  -o <filename> ..." of the help's usage and of the guide's option list.
Options FromUsageLines(const std::string& text) {
    Options options;
    for (const std::string& found : Matching(text, R"(^  -(.)( +<)?.*)", "$1$2")) {
        options[found[0]] = found.size() > 1;
    }
    return options;
}

// ".TP" entries of the manual page: ".BI \-o " file"" takes an argument, ".B \-L" does not.
Options FromManPage(const std::string& text) {
    static const std::regex option(R"(^\.(BI?) \\-(.).*)");
    Options options;
    const std::vector<std::string> lines = Lines(text);
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch match;
        if (lines[i - 1] == ".TP" && std::regex_match(lines[i], match, option)) {
            options[match[2].str()[0]] = match[1] == "BI";
        }
    }
    return options;
}

TEST(DocsTest, EveryOptionIsDescribedAlikeEverywhere) {
    const Options expected = FromOptionString();
    ASSERT_EQ(expected.size(), 8u);
    EXPECT_EQ(FromUsageLines(kUsage), expected) << "help usage";
    EXPECT_EQ(FromUsageLines(Section(ReadDoc("marvanecfgutil-guide.txt"), "2. Options", "3. ")),
              expected)
        << "guide";
    EXPECT_EQ(FromManPage(Section(ReadDoc("marvanecfgutil.1"), ".SH OPTIONS", ".SH ")), expected)
        << "manual page";
}

// The long options: in the guide's scripting section as "  --name" (with "<" when it takes a
// value) and in the manual page's section of their own as ".B \-\-name" or ".BI".
TEST(DocsTest, EveryLongOptionIsDescribedInBoth) {
    const std::string guide =
        Section(ReadDoc("marvanecfgutil-guide.txt"), "5. Scripting", "6. Trying");
    const std::string manual = Section(ReadDoc("marvanecfgutil.1"), ".SH OPTIONS FOR", ".SH ");
    for (const LongOption& option : kLongOptions) {
        const std::string name = option.name;
        const std::string escaped = std::regex_replace(name, std::regex("-"), "\\-");
        EXPECT_NE(guide.find("\n  --" + name + (option.takesArgument ? " <" : "  ")),
                  std::string::npos)
            << name;
        EXPECT_NE(manual.find(option.takesArgument ? "\n.BI \\-\\-" + escaped + " \""
                                                   : "\n.B \\-\\-" + escaped + "\n"),
                  std::string::npos)
            << name;
    }
}

// The help defines the keys in table order; the guide's table ("  Volume      General      00-28
// 20       master volume") and the manual page (".SS [Section]", then per key ".TP", ".B Key",
// "00\-28, default 20.") give each key's section, range and default.
TEST(DocsTest, EveryKeyIsDescribedAlikeEverywhere) {
    std::vector<std::string> keys;
    for (const SettingsItem& item : kSettingsItems) {
        keys.push_back(Narrow(item.key));
    }
    EXPECT_EQ(Matching(kDefinition, R"(^    (\w+)=.*)", "$1"), keys) << "help";
    EXPECT_EQ(Matching(ReadDoc("marvanecfgutil-guide.txt"),
                       R"(^  ([A-Za-z0-9]+) +([A-Za-z]+) +([0-9A-F]{2})-([0-9A-F]{2}) +)"
                       R"(([0-9A-F]{2}) .*)",
                       "$1 $2 $3-$4 $5"),
              KeyRows())
        << "guide";
    const std::vector<std::string> lines =
        Lines(Section(ReadDoc("marvanecfgutil.1"), ".SH INI FILE", ".SH "));
    static const std::regex section(R"(^\.SS \[(\w+)\]$)");
    static const std::regex key(R"(^\.B (\w+)$)");
    static const std::regex range(R"(^([0-9A-F]{2})\\-([0-9A-F]{2}), default ([0-9A-F]{2})\.$)");
    std::vector<std::string> entries;
    std::string current;
    for (size_t i = 0; i + 2 < lines.size(); ++i) {
        std::smatch match, values;
        if (std::regex_match(lines[i], match, section)) {
            current = match[1];
        } else if (lines[i] == ".TP" && std::regex_match(lines[i + 1], match, key) &&
                   std::regex_match(lines[i + 2], values, range)) {
            entries.push_back(match[1].str() + " " + current + " " + values[1].str() + "-" +
                              values[2].str() + " " + values[3].str());
        }
    }
    EXPECT_EQ(entries, KeyRows()) << "manual page";
}

// Every example command of the help appears in the guide and in the manual page's examples.
TEST(DocsTest, ExampleCommandsMatchTheHelp) {
    const std::vector<std::string> commands =
        Matching(kExamples, "^       (marvanecfgutil .*)", "$1");
    ASSERT_EQ(commands.size(), 4u);
    const std::string guide = ReadDoc("marvanecfgutil-guide.txt");
    const std::string examples = std::regex_replace(
        Section(ReadDoc("marvanecfgutil.1"), ".SH EXAMPLES", ".SH "), std::regex(R"(\\-)"), "-");
    for (const std::string& command : commands) {
        EXPECT_NE(guide.find("\n  " + command + "\n"), std::string::npos) << command;
        EXPECT_NE(examples.find("\n" + command + "\n"), std::string::npos) << command;
    }
}

}  // namespace
