#include "cli/shared/cli_options.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "cli/shared/platform_text.h"

#ifndef BREVANT_VERSION
#define BREVANT_VERSION "unknown"
#endif

namespace {

// Which commands an option belongs to.
constexpr unsigned kList = 1u << 0;
constexpr unsigned kFormat = 1u << 1;
constexpr unsigned kRestore = 1u << 2;
constexpr unsigned kCheck = 1u << 3;
constexpr unsigned kWatch = 1u << 4;
constexpr unsigned kHistory = 1u << 5;
// The commands that reach the sticks, and all of them.
constexpr unsigned kStickCommands = kList | kFormat | kRestore | kCheck | kWatch;
constexpr unsigned kEveryCommand = kStickCommands | kHistory;

// What an option does to the command line being parsed, given its value ("" for a switch) and
// the option as it was typed (for messages). False, with the reason, for a value it does not
// take.
using ApplyOption = bool (*)(const std::string& value, const std::string& typed, CliOptions* parsed,
                             std::string* error);

// Every option is this one row: its names, its value, the commands it goes with, its help and
// what it does.
struct OptionEntry {
    const char* longName;  // without the dashes
    char shortName;        // 0 for none
    const char* value;     // the value's name in the help, nullptr for a switch
    unsigned commands;     // the commands it goes with
    const char* help;
    ApplyOption apply;
    // What the whole line becomes when it is given, whatever else is (--help, --version).
    CliCommand instead = CliCommand::None;
    // A station's workers are given it as the parent was.
    bool toWorkers = false;
};

template <bool CliOptions::*field>
bool Switch(const std::string&, const std::string&, CliOptions* parsed, std::string*) {
    parsed->*field = true;
    return true;
}

template <std::string CliOptions::*field>
bool Text(const std::string& value, const std::string&, CliOptions* parsed, std::string*) {
    parsed->*field = value;
    return true;
}

bool Nothing(const std::string&, const std::string&, CliOptions*, std::string*) { return true; }

bool ParseMicroseconds(const std::string& text, std::uint32_t* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || v > 10000000ull) return false;  // at most ten seconds a command
    *value = static_cast<std::uint32_t>(v);
    return true;
}

const OptionEntry kOptions[] = {
    {"all", 'a', nullptr, kFormat,
     "every flash disk of the controller family found, each by a worker of its own",
     Switch<&CliOptions::all>},
    {"all-present", 0, nullptr, kWatch,
     "format the sticks that are there when the watch begins, too",
     Switch<&CliOptions::allPresent>},
    {"report-dir", 0, "DIR", kFormat | kWatch,
     "write a report and a log for every stick into DIR, named by its serial (or node) and "
     "the time",
     Text<&CliOptions::reportDir>},
    {"replug", 0, nullptr, kFormat | kRestore,
     "after a run that wrote to the stick, plug it out and in again in software (its USB "
     "device re-enumerated, the port untouched) and show the size the system sees then; on "
     "by default for several sticks and in a watch",
     Switch<&CliOptions::replug>},
    {"no-replug", 0, nullptr, kFormat | kWatch,
     "several sticks or a watch: leave the sticks as they are after their runs (they are then "
     "to be plugged out and in by hand)",
     Switch<&CliOptions::noReplug>},
    {"progress", 0, "json|text", kFormat | kCheck,
     "json: instead of the progress line, one JSON object a line on standard output (the "
     "phase, blocks done and in all, bad blocks so far, the rate; at the end the result), for a "
     "program that wraps brevant; the text goes to standard error. text: the progress line "
     "(the default)",
     [](const std::string& value, const std::string& typed, CliOptions* parsed,
        std::string* error) {
         if (value != "json" && value != "text") {
             *error = typed + " takes json or text, not " + value;
             return false;
         }
         parsed->progressJson = value == "json";
         return true;
     }},
    {"dry-run", 0, nullptr, kFormat,
     "change nothing: identify the stick, read what check reads, and tell what a format would "
     "erase and where it would keep the old CIS page; only reading commands are sent",
     Switch<&CliOptions::dryRun>},
    {"label", 0, "NAME", kFormat | kWatch,
     "the FAT volume's label: up to 11 characters, upper-cased, by mkfs.fat's rules (default: "
     "none, \"NO NAME\")",
     [](const std::string& value, const std::string& typed, CliOptions* parsed,
        std::string* error) {
         FatLabel label{};
         std::string reason;
         if (!ParseFatLabel(value, &label, &reason)) {
             *error = typed + " " + value + ": " + reason;
             return false;
         }
         parsed->label = value;
         return true;
     },
     CliCommand::None, true},
    {"retire-above", 0, "N|+N", kFormat | kWatch,
     "read every block first and leave a stick unformatted (result \"retired\") when it has "
     "more than N bad blocks, or, with +N, more than N more than at its last whole run in the "
     "history",
     [](const std::string& value, const std::string&, CliOptions* parsed, std::string* error) {
         RetireRule rule;
         if (!ParseRetireRule(value, &rule, error)) return false;
         parsed->retireAbove = rule;
         return true;
     },
     CliCommand::None, true},
    {"full", 'f', nullptr, kFormat | kWatch, "a Full format: surface tests of every block as well",
     [](const std::string&, const std::string&, CliOptions* parsed, std::string*) {
         parsed->mode = FormatMode::Full;
         return true;
     },
     CliCommand::None, true},
    {"yes", 'y', nullptr, kFormat | kRestore | kWatch, "do not ask for confirmation",
     Switch<&CliOptions::assumeYes>},
    {"force", 0, nullptr, kRestore,
     "write the pages onto a stick that is not the one they came from, once both are named and "
     "a person has said yes on a terminal (--yes does not answer that question)",
     Switch<&CliOptions::force>},
    {"device", 'd', "NODE", kStickCommands, kNodeHelp,
     [](const std::string& value, const std::string&, CliOptions* parsed, std::string*) {
         parsed->device = value;
         parsed->devices.push_back(value);
         return true;
     }},
    {"settings", 0, "FILE", kFormat | kWatch,
     "the format switches ([Setting] section, as Brevant.ini); default: Brevant.ini in the "
     "current folder, if there is one",
     Text<&CliOptions::settingsPath>},
    {"log", 0, "FILE", kFormat,
     "write the run's log to FILE (default: brevant.log in the current folder when the settings "
     "say GenerateLog=1)",
     Text<&CliOptions::logPath>},
    {"probe-write-protect", 0, nullptr, kList,
     "find out whether each flash disk is write-protected by writing back a sector (or page) "
     "it has just read; never on a disk in use",
     Switch<&CliOptions::probeWriteProtect>},
    {"on-damaged", 0, "WHAT", kFormat | kWatch,
     "what a bad block whose mark does not hold makes the run do when nobody answers (--yes, "
     "or no terminal): abort (the default: stop and put the old CIS page back) or continue",
     [](const std::string& value, const std::string& typed, CliOptions* parsed,
        std::string* error) {
         if (value == "abort") {
             parsed->onDamaged = CliOptions::OnDamaged::Abort;
         } else if (value == "continue") {
             parsed->onDamaged = CliOptions::OnDamaged::Continue;
         } else {
             *error = typed + " takes abort or continue, not " + value;
             return false;
         }
         return true;
     },
     CliCommand::None, true},
    {"backup-dir", 0, "DIR", kFormat | kWatch, kBackupFolderHelp, Text<&CliOptions::backupDir>,
     CliCommand::None, true},
    {"report", 0, "FILE", kFormat | kCheck,
     "write a report of the run to FILE as JSON (written however the run ends)",
     Text<&CliOptions::reportPath>},
    {"json", 0, nullptr, kFormat | kCheck | kList | kHistory,
     "print JSON on standard output instead of the text: the run's report (format, check), "
     "the units (list), the runs (history)",
     Switch<&CliOptions::json>},
    {"map", 0, "FILE", kFormat | kCheck, "draw the flash, a cell per block, to FILE as SVG",
     Text<&CliOptions::mapPath>},
    {"simulate", 0, "FILE", kStickCommands, kSimulateHelp, Text<&CliOptions::simulate>,
     CliCommand::None, true},
    {"export-image", 0, "FILE", kStickCommands,
     "after the run, write the simulated disk's logical sectors to FILE",
     Text<&CliOptions::exportImage>},
    {"export-pages", 0, "FILE", kStickCommands,
     "after the run, write bank 0's first 256 raw pages (528 bytes each) to FILE",
     Text<&CliOptions::exportPages>},
    {"trace", 0, "FILE", kStickCommands,
     "write every command sent to FILE, one line each with its outcome (simulated: every "
     "command the machine receives)",
     Text<&CliOptions::tracePath>},
    {"sim-latency", 0, "US", kStickCommands, "a pause of US microseconds per simulated command",
     [](const std::string& value, const std::string& typed, CliOptions* parsed,
        std::string* error) {
         std::uint32_t microseconds = 0;
         if (!ParseMicroseconds(value, &microseconds)) {
             *error = typed + " needs a whole number of microseconds up to 10000000";
             return false;
         }
         parsed->simLatencyMicroseconds = microseconds;
         return true;
     },
     CliCommand::None, true},
    {"verbose", 'v', nullptr, kEveryCommand,
     "more detail: the settings used and each phase; twice, every command sent and what came "
     "of it",
     [](const std::string&, const std::string&, CliOptions* parsed, std::string*) {
         if (parsed->verbosity >= 0) ++parsed->verbosity;
         return true;
     }},
    {"quiet", 'q', nullptr, kEveryCommand, "only warnings, errors and the result",
     [](const std::string&, const std::string&, CliOptions* parsed, std::string*) {
         parsed->verbosity = -1;
         return true;
     }},
    {"help", 'h', nullptr, kEveryCommand, "show this help and exit", Nothing, CliCommand::Help},
    {"version", 'V', nullptr, kEveryCommand, "show the version and exit", Nothing,
     CliCommand::Version},
};

// The words a command takes after its name.
enum class Words {
    None,
    File,     // exactly one (restore-cis FILE)
    Device,   // one device at most, as --device names it (check NODE)
    Devices,  // any number of devices (format NODE...)
    Serial,   // one stick at most (history SERIAL)
};

struct CommandEntry {
    CliCommand command;
    const char* name;
    unsigned bit;
    Words words;
    const char* arguments;  // the words in the usage line (" FILE", " [NODE]"), or ""
    const char* summary;
    const char* description;
};

const CommandEntry kCommands[] = {
    {CliCommand::List, "list", kList, Words::Device, " [NODE]",
     "show the reader units found and their media",
     "Shows every unit of this controller family's readers (or the one at NODE): the node, the "
     "medium, the vendor, product and revision it names, its size, what is known of its write "
     "protection, where the system knows them its USB serial number and the USB port it is "
     "plugged into, and a stick that announces more than its flash can hold as counterfeit. A "
     "node another program holds is named as in use. Nothing is written unless "
     "--probe-write-protect asks for it. Other drives are only asked who they are."},
    {CliCommand::Format, "format", kFormat, Words::Devices, " [NODE]...",
     "low-level format a USB flash disk (erases everything on it)",
     "Low-level formats the USB flash disk (or each stick named: several are formatted at "
     "once, each by a worker of its own): every block of every flash bank is checked, bad "
     "blocks are kept out, the card information page is rewritten and an empty FAT volume is "
     "laid down. All the data on the disk is erased. Ctrl-C stops the run and writes the old "
     "card information page back. The run ends with the stick's verdict and is kept in the "
     "history."},
    {CliCommand::Check, "check", kCheck, Words::Device, " [NODE]",
     "look at a stick's health without changing anything on it",
     "Reads every block of every flash bank of the stick and tells which are marked bad and "
     "which hold data, decodes its CIS page and the vendor page behind it, and reads its "
     "volume's boot sector. Only reading commands are sent: the stick may be in use. Ends with "
     "a verdict, healthy, worn, retire or counterfeit, with its reasons and the figures behind "
     "them, the stick's count at its previous run, and an exit status for each verdict. The "
     "check is kept in the history."},
    {CliCommand::Watch, "watch", kWatch, Words::None, "",
     "format each stick as it is plugged in, until Ctrl-C (a shop's station)",
     "Waits for flash disks of the controller family to be plugged in and formats each once, "
     "by a worker of its own, showing its result until it is pulled. Sticks already there when "
     "the watch begins are left alone unless --all-present. Ctrl-C stops every worker as Stop "
     "does and ends with a table of the session. With --yes nothing is asked."},
    {CliCommand::RestoreCis, "restore-cis", kRestore, Words::File, " FILE",
     "put a stick's old CIS page back from the file a format kept it in",
     "Writes the old CIS page (and the vendor page behind it) that a format kept in FILE back "
     "to the stick, where it was: the way back from a format that was stopped, killed or cut "
     "off before it ended. The file names the stick the pages came from (its USB serial and "
     "port, its name, its flash banks): another stick is refused, with both named, unless "
     "--force; a stick of another kind of flash is refused always. Files of older versions name "
     "only the kind of flash. A page that is already in place is left alone; a block that holds "
     "something else is erased first."},
    {CliCommand::History, "history", kHistory, Words::Serial, " [SERIAL]",
     "show the runs this machine remembers, of every stick or of one",
     "Lists the formats and checks this machine has run (of the stick known by SERIAL: its USB "
     "serial number, else the USB path or node it was on), newest first: when, the stick, the "
     "command, the result, its bad blocks and how many more (or fewer) than at the stick's "
     "previous whole run, the verdict and the capacity after. The history is kept in the user's "
     "state folder; nothing is sent to any device."},
};

constexpr const char kExitStatus[] =
    "Exit status: 0 complete, 1 failed, 2 usage error, 3 cancelled, 4 nothing was\n"
    "done to the stick (no rights, no reader, not ready, write-protected, in use,\n"
    "another stick's pages, or its old pages could not be kept), 5 complete but with\n"
    "bad blocks whose mark did not hold. 2 is also a file or folder the run cannot\n"
    "use: nothing was then sent to any device. A disk pulled out during a format\n"
    "ends with 1. check: 6 worn, 7 retire, 8 counterfeit (0 healthy); format\n"
    "--retire-above: 7 when it left the stick unformatted. Several sticks: 0 when\n"
    "all are complete, else 1, 4, 3, 5, 7 in turn.\n";

const OptionEntry* FindLong(const std::string& name) {
    for (const OptionEntry& entry : kOptions) {
        if (name == entry.longName) return &entry;
    }
    return nullptr;
}

const OptionEntry* FindShort(char name) {
    for (const OptionEntry& entry : kOptions) {
        if (entry.shortName != 0 && entry.shortName == name) return &entry;
    }
    return nullptr;
}

const CommandEntry* FindCommand(const std::string& name) {
    for (const CommandEntry& entry : kCommands) {
        if (name == entry.name) return &entry;
    }
    return nullptr;
}

std::string Spelling(const OptionEntry& entry) { return std::string("--") + entry.longName; }

// The commands an option belongs to, for the message about a misplaced one.
std::string OwnersOf(const OptionEntry& entry) {
    std::vector<std::string> owners;
    for (const CommandEntry& command : kCommands) {
        if ((entry.commands & command.bit) != 0) owners.push_back(command.name);
    }
    std::string text;
    for (std::size_t i = 0; i < owners.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == owners.size() ? " and " : ", ") + owners[i];
    }
    return text;
}

struct GivenOption {
    const OptionEntry* entry;
    std::string value;
    std::string typed;  // as the user wrote it, for messages
};

// Splits the arguments into options (with their values) and words.
bool Tokenize(const std::vector<std::string>& args, std::vector<GivenOption>* given,
              std::vector<std::string>* words, std::string* error) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            words->push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg[1] == '-') {
            const std::size_t equals = arg.find('=');
            const std::string name =
                arg.substr(2, equals == std::string::npos ? arg.npos : equals - 2);
            const OptionEntry* entry = FindLong(name);
            if (entry == nullptr) {
                *error = "unknown option --" + name;
                return false;
            }
            GivenOption option{entry, std::string(), Spelling(*entry)};
            if (entry->value == nullptr) {
                if (equals != std::string::npos) {
                    *error = option.typed + " takes no value";
                    return false;
                }
            } else if (equals != std::string::npos) {
                option.value = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                option.value = args[++i];
            } else {
                *error = option.typed + " needs a value (" + entry->value + ")";
                return false;
            }
            if (entry->value != nullptr && option.value.empty()) {
                *error = option.typed + " needs a value (" + entry->value + ")";
                return false;
            }
            given->push_back(option);
            continue;
        }
        // A bundle of short options: -fy, -vv, -dNODE or -d NODE.
        for (std::size_t j = 1; j < arg.size(); ++j) {
            const OptionEntry* entry = FindShort(arg[j]);
            if (entry == nullptr) {
                *error = std::string("unknown option -") + arg[j];
                return false;
            }
            GivenOption option{entry, std::string(), std::string("-") + arg[j]};
            if (entry->value != nullptr) {
                if (j + 1 < arg.size()) {
                    option.value = arg.substr(j + 1);
                } else if (i + 1 < args.size()) {
                    option.value = args[++i];
                } else {
                    *error = option.typed + " needs a value (" + entry->value + ")";
                    return false;
                }
                given->push_back(option);
                break;
            }
            given->push_back(option);
        }
    }
    return true;
}

// The words in lines of at most `width` columns, ending in a line feed. The first line goes on
// at `column` (text already stands before it); the others start with `indent` blanks.
std::string Wrap(const std::string& words, std::size_t indent, std::size_t column,
                 std::size_t width = 80) {
    std::string text;
    std::size_t at = column;
    bool lineEmpty = true;
    std::istringstream in(words);
    std::string word;
    while (in >> word) {
        if (!lineEmpty && at + 1 + word.size() > width) {
            text += "\n" + std::string(indent, ' ');
            at = indent;
            lineEmpty = true;
        }
        if (!lineEmpty) {
            text += ' ';
            ++at;
        }
        text += word;
        at += word.size();
        lineEmpty = false;
    }
    return text + "\n";
}

constexpr std::size_t kHelpColumn = 24;

// The help lines of the options of `commands`; with `exactly`, just those that go with exactly
// those commands (the general help lists the shared ones once).
std::string OptionLines(unsigned commands, bool exactly) {
    std::string text;
    for (const OptionEntry& entry : kOptions) {
        if ((entry.commands & commands) == 0) continue;
        if (exactly && entry.commands != commands) continue;
        std::string head = "  ";
        head += entry.shortName != 0 ? std::string("-") + entry.shortName + ", " : "    ";
        head += Spelling(entry);
        if (entry.value != nullptr) head += std::string(" ") + entry.value;
        if (head.size() + 2 > kHelpColumn) {
            text += head + "\n" + std::string(kHelpColumn, ' ');
        } else {
            text += head + std::string(kHelpColumn - head.size(), ' ');
        }
        text += Wrap(entry.help, kHelpColumn, kHelpColumn);
    }
    return text;
}

// The words after the command's name, as the command takes them. False with the reason.
bool TakeWords(const CommandEntry& command, const std::vector<std::string>& words,
               CliOptions* parsed, std::string* error) {
    const std::size_t given = words.size() - 1;
    const bool one = command.words == Words::File || command.words == Words::Serial;
    if (command.words == Words::None && given > 0) {
        *error = std::string(command.name) + " takes no argument " + words[1];
        return false;
    }
    if (one && given > 1) {
        *error = std::string(command.name) + " takes no argument " + words[2];
        return false;
    }
    if (one && given == 1) parsed->argument = words[1];
    if (command.words == Words::Device || command.words == Words::Devices) {
        // A device after the command is one given with --device.
        for (std::size_t i = 1; i < words.size(); ++i) {
            parsed->device = words[i];
            parsed->devices.push_back(words[i]);
        }
    }
    return true;
}

std::string UsageLine(const CommandEntry& command) {
    return std::string(kProgramName) + " " + command.name + " [OPTION]..." + command.arguments;
}

}  // namespace

FatLabel VolumeLabelOf(const CliOptions& options) {
    FatLabel label = NoNameLabel();
    std::string reason;
    if (!options.label.empty()) ParseFatLabel(options.label, &label, &reason);
    return label;
}

std::string LabelText(const FatLabel& label) {
    const std::string text(label.begin(), label.end());
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

std::string CommandName(CliCommand command) {
    for (const CommandEntry& entry : kCommands) {
        if (entry.command == command) return entry.name;
    }
    return std::string();
}

bool ParseCommandLine(const std::vector<std::string>& args, CliOptions* options,
                      std::string* error) {
    std::vector<GivenOption> given;
    std::vector<std::string> words;
    if (!Tokenize(args, &given, &words, error)) return false;

    CliOptions parsed;
    const CommandEntry* command = nullptr;
    if (!words.empty()) {
        if (words[0] == "help") {
            parsed.command = CliCommand::Help;
            if (words.size() > 2) {
                *error = "help takes one command at most";
                return false;
            }
            if (words.size() == 2) parsed.helpTopic = words[1];
            *options = parsed;
            return true;
        }
        command = FindCommand(words[0]);
        if (command == nullptr) {
            *error = "unknown command " + words[0];
            return false;
        }
        if (!TakeWords(*command, words, &parsed, error)) return false;
        parsed.command = command->command;
    }
    // --help and --version win over everything else given with them.
    for (const GivenOption& option : given) {
        if (option.entry->instead == CliCommand::None) continue;
        parsed.command = option.entry->instead;
        if (parsed.command == CliCommand::Help) {
            parsed.helpTopic = command != nullptr ? command->name : "";
        }
        *options = parsed;
        return true;
    }
    if (command == nullptr) {
        *error = "no command given (list, check, format, watch, restore-cis or history)";
        return false;
    }
    if (command->words == Words::File && parsed.argument.empty()) {
        *error = std::string(command->name) + " needs" + command->arguments;
        return false;
    }
    for (const GivenOption& option : given) {
        if ((option.entry->commands & command->bit) == 0) {
            const std::string named = option.typed == Spelling(*option.entry)
                                          ? option.typed
                                          : option.typed + " (" + Spelling(*option.entry) + ")";
            *error = named + " belongs to " + OwnersOf(*option.entry) + ", not " + command->name;
            return false;
        }
        if (!option.entry->apply(option.value, option.typed, &parsed, error)) return false;
        if (option.entry->toWorkers) {
            parsed.workerArguments.push_back(Spelling(*option.entry));
            if (option.entry->value != nullptr) parsed.workerArguments.push_back(option.value);
        }
    }
    if (parsed.replug && parsed.noReplug) {
        *error = "--replug and --no-replug do not go together";
        return false;
    }
    if (parsed.all && !parsed.devices.empty()) {
        *error = "--all and --device do not go together";
        return false;
    }
    if (command->words == Words::Device && parsed.devices.size() > 1) {
        *error = std::string(command->name) +
                 " looks at one stick: " + std::to_string(parsed.devices.size()) + " were named";
        return false;
    }
    if (parsed.json && parsed.progressJson) {
        *error =
            "--json and --progress json both want standard output: --report FILE writes "
            "the report to a file";
        return false;
    }
    if (parsed.dryRun && (parsed.all || parsed.devices.size() > 1 || !parsed.reportDir.empty() ||
                          parsed.retireAbove)) {
        *error =
            "--dry-run looks at one stick, and goes with none of --all, --report-dir and "
            "--retire-above";
        return false;
    }
    if (parsed.dryRun && (parsed.json || parsed.progressJson || !parsed.reportPath.empty() ||
                          !parsed.mapPath.empty())) {
        *error = std::string("--dry-run tells what a format would do in words; '") + kProgramName +
                 " check' gives the same look as a report (--json, --report, --map)";
        return false;
    }
    const bool simOnly =
        !parsed.exportImage.empty() || !parsed.exportPages.empty() || parsed.simLatencyMicroseconds;
    if (simOnly && parsed.simulate.empty()) {
        *error = "--export-image, --export-pages and --sim-latency need --simulate";
        return false;
    }
    *options = parsed;
    return true;
}

bool HelpText(const std::string& topic, std::string* text) {
    if (topic.empty()) {
        std::string all = std::string("Usage: ") + kProgramName + " COMMAND [OPTION]...\n";
        all += Wrap(
            "Low-level formats USB flash disks built on one NAND flash controller family, "
            "over the controller's raw flash commands.",
            0, 0);
        all += "\nCommands:\n";
        for (const CommandEntry& command : kCommands) {
            const std::string head = std::string("  ") + command.name;
            all += head + std::string(kHelpColumn - head.size(), ' ') +
                   Wrap(command.summary, kHelpColumn, kHelpColumn);
        }
        all += "  help [COMMAND]        show the help of a command\n";
        all += "\nOptions of every command:\n";
        all += OptionLines(kEveryCommand, true);
        all += "\nOptions of every command that reaches a stick (all but history):\n";
        all += OptionLines(kStickCommands, true);
        all += std::string("\nSee '") + kProgramName +
               " help COMMAND' for a command's own options.\n\n";
        all += kExitStatus;
        all += std::string("\n") + kPlatformHelp;
        *text = all;
        return true;
    }
    const CommandEntry* command = FindCommand(topic);
    if (command == nullptr) return false;
    std::string one = "Usage: " + UsageLine(*command) + "\n";
    one += Wrap(command->description, 0, 0);
    one += "\nOptions:\n" + OptionLines(command->bit, false);
    one += std::string("\n") + kExitStatus;
    *text = one;
    return true;
}

std::string VersionText() {
    return std::string(kProgramName) + " " + BREVANT_VERSION + "\n" + kDevicesReached;
}
