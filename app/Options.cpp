#include "app/Options.h"

#include <cstring>

#include "app/Help.h"
#include "log/Log.h"

namespace cmdline {

int optind = 1;
int optpos = 1;
const char* optarg = nullptr;

void getoptReset() {
    optind = 1;
    optpos = 1;
    optarg = nullptr;
}

namespace {

// One whole word "--name", "--name=VALUE" or "--name" followed by VALUE. Names match
// exactly: an abbreviation that means one option today could mean two tomorrow.
int getoptLong(int argc, char* const argv[]) {
    const char* word = argv[optind++] + 2;
    const char* equals = std::strchr(word, '=');
    const size_t nameLength =
        equals != nullptr ? static_cast<size_t>(equals - word) : std::strlen(word);
    optarg = nullptr;
    for (const LongOption& option : kLongOptions) {
        if (std::strlen(option.name) != nameLength ||
            std::strncmp(option.name, word, nameLength) != 0) {
            continue;
        }
        if (!option.takesArgument) {
            if (equals != nullptr) {
                LogMessage(LogError, "opalquix: option '--%s' doesn't allow an argument\n",
                           option.name);
                return '?';
            }
            return option.code;
        }
        if (equals != nullptr) {
            optarg = equals + 1;
        } else if (optind >= argc) {
            LogMessage(LogError, "opalquix: option '--%s' requires an argument\n", option.name);
            return '?';
        } else {
            optarg = argv[optind++];
        }
        return option.code;
    }
    LogMessage(LogError, "opalquix: unrecognized option '--%.*s'\n", static_cast<int>(nameLength),
               word);
    return '?';
}

}  // namespace

int getopt(int argc, char* const argv[]) {
    if (optpos == 1) {
        if (optind >= argc || argv[optind] == nullptr || argv[optind][0] != '-' ||
            argv[optind][1] == '\0') {
            return -1;
        }
        if (std::strcmp(argv[optind], "--") == 0) {
            ++optind;
            return -1;
        }
        if (argv[optind][1] == '-') {
            return getoptLong(argc, argv);
        }
    }

    const char* word = argv[optind];
    const char c = word[optpos];
    const char* entry = (c == ':') ? nullptr : std::strchr(kOptionString, c);
    if (entry == nullptr) {
        LogMessage(LogError, "opalquix: illegal option -- %c\n", c);
        if (word[++optpos] == '\0') {
            ++optind;
            optpos = 1;
        }
        return '?';
    }

    if (entry[1] == ':') {
        if (word[optpos + 1] != '\0') {
            optarg = &word[optpos + 1];  // -ofile.ini
            ++optind;
        } else if (++optind >= argc) {
            LogMessage(LogError, "opalquix: option requires an argument -- %c\n", c);
            optpos = 1;
            return '?';
        } else {
            optarg = argv[optind++];
        }
        optpos = 1;
        return c;
    }

    if (word[++optpos] == '\0') {
        ++optind;
        optpos = 1;
    }
    optarg = nullptr;
    return c;
}

}  // namespace cmdline

namespace {

void PrintFullHelp() {
    PrintUsage();
    PrintExamples();
    PrintSettingsDefinition();
}

// The long options each go with some modes only.
bool FitsMode(const CommandLine& commandLine) {
    if (commandLine.ifNeeded && commandLine.mode != RunMode::UpdateFromIni) {
        return false;
    }
    return !commandLine.json || commandLine.mode == RunMode::ListDevices ||
           commandLine.mode == RunMode::CheckAgainstIni;
}

// An option argument that is missing, looks like another option, or does not fit the
// program's 260-character buffers.
bool BadArgument(const char* argument) {
    return argument == nullptr || argument[0] == '-' || std::strlen(argument) > kMaxArgumentLength;
}

}  // namespace

bool ParseCommandLine(int argc, char* argv[], CommandLine& commandLine, int& exitStatus) {
    cmdline::getoptReset();  // every command line is scanned from its first word
    commandLine = CommandLine{};
    RunMode pending = RunMode::None;

    int option = cmdline::getopt(argc, argv);
    if (option == -1) {
        PrintUsage();
        exitStatus = 1;
        return false;
    }

    for (; option != -1; option = cmdline::getopt(argc, argv)) {
        const char* argument = cmdline::optarg;
        switch (option) {
            case 'L':
                pending = RunMode::ListDevices;
                break;
            case 'o':
            case 'g':
            case 'i':
            case kLongCheck:
                // A refused argument ends the run with 1 for every option: -o included, as
                // nothing was written. An empty file name names no file: refused here, before
                // any monitor is asked for its configuration.
                if (BadArgument(argument) || argument[0] == '\0') {
                    PrintUsage();
                    exitStatus = 1;
                    return false;
                }
                pending = option == 'o'   ? RunMode::WriteCurrentIni
                          : option == 'g' ? RunMode::WriteDefaultIni
                          : option == 'i' ? RunMode::UpdateFromIni
                                          : RunMode::CheckAgainstIni;
                commandLine.iniFileName = argument;
                break;
            case 's':
                if (BadArgument(argument)) {
                    PrintUsage();
                    exitStatus = 1;
                    return false;
                }
                commandLine.serial = argument;
                break;
            case 'l':
                if (BadArgument(argument)) {
                    PrintUsage();
                    exitStatus = 1;
                    return false;
                }
                commandLine.logFileName = argument;
                GetLogSettings().fileName = commandLine.logFileName;
                GetLogSettings().level = LogTrace;
                break;
            case 'v':
                VerboseFlag() = 1;
                break;
            case kLongIfNeeded:
                commandLine.ifNeeded = true;
                break;
            case kLongJson:
                commandLine.json = true;
                break;
            case kLongHelp:  // asked for, so not a refusal
                PrintFullHelp();
                PrintLongOptions();
                exitStatus = 0;
                return false;
            default:  // '?': asked for, or a parse error already logged
                PrintFullHelp();
                exitStatus = 1;
                return false;
        }

        if (commandLine.mode == RunMode::None) {
            commandLine.mode = pending;
        } else if (pending != commandLine.mode) {
            PrintUsage();
            exitStatus = 1;
            return false;
        }
    }

    if (commandLine.mode == RunMode::None || !FitsMode(commandLine)) {
        PrintUsage();
        exitStatus = 1;
        return false;
    }
    exitStatus = 0;
    return true;
}
