#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/shared/retire_rule.h"
#include "core/format_types.h"
#include "format/fat_label.h"

// The command line of `brevant`, parsed. Each option is one row of the option table
// (cli_options.cpp), which names it, says what it takes and fills its field here.
enum class CliCommand { None, Help, Version, List, Format, Check, RestoreCis, Watch, History };

struct CliOptions {
    CliCommand command = CliCommand::None;
    std::string helpTopic;  // brevant help COMMAND, or COMMAND --help
    std::string argument;   // the word a command takes after it (restore-cis FILE, history SERIAL)
    int verbosity = 0;      // -v adds one, -q sets -1
    FormatMode mode = FormatMode::Quick;  // --full gives FormatMode::Full
    std::string device;      // --device NODE or the NODE after the command; empty: the one found
    bool assumeYes = false;  // --yes
    bool force = false;  // restore-cis --force: onto a stick that is not the pages' own, if asked
    std::string settingsPath;  // --settings FILE; empty: Brevant.ini in the current folder
    std::string logPath;       // --log FILE; empty: brevant.log when GenerateLog is on
    std::string simulate;      // --simulate DESCRIPTION
    std::string exportImage;   // --export-image FILE (simulated disk only)
    std::string exportPages;   // --export-pages FILE (simulated disk only)
    std::string tracePath;     // --trace FILE (simulated machine only)
    std::optional<std::uint32_t> simLatencyMicroseconds;  // --sim-latency MICROSECONDS
    std::string backupDir;             // --backup-dir DIR: where the old CIS pages are kept
    std::string reportPath;            // --report FILE: the run's report as JSON
    bool json = false;                 // --json: the report on standard output instead of the text
    std::string mapPath;               // --map FILE: a picture of the flash as SVG
    bool probeWriteProtect = false;    // list --probe-write-protect: try a write
    bool progressJson = false;         // --progress json: a JSON object a line on stdout
    std::vector<std::string> devices;  // every device named (the last is `device`)
    bool all = false;                  // format --all: every flash disk found
    std::string reportDir;             // --report-dir DIR: a report and a log per stick
    bool allPresent = false;           // watch --all-present: sticks there at the start too
    bool replug = false;    // --replug: a soft re-plug after a run that wrote to the stick
    bool noReplug = false;  // --no-replug: none after the runs of several sticks or a watch
    enum class OnDamaged { Ask, Abort, Continue };
    OnDamaged onDamaged = OnDamaged::Ask;   // --on-damaged abort|continue
    bool dryRun = false;                    // format --dry-run: read and tell, change nothing
    std::string label;                      // --label NAME as typed; empty: "NO NAME"
    std::optional<RetireRule> retireAbove;  // --retire-above N|+N
    // The options a station's workers are given as this command line gave them, as typed
    // ("--simulate", "m.txt", "--full", ...).
    std::vector<std::string> workerArguments;
};

// Parses argv (without argv[0]). Options may stand before or after the command and short ones
// may be bundled (-fy); "--" ends the options. On a usage error returns false with a one-line
// reason that names the offending argument.
bool ParseCommandLine(const std::vector<std::string>& args, CliOptions* options,
                      std::string* error);

// The volume label --label asks for (checked when the command line was read); "NO NAME" for
// none. And a label's text without the blanks that pad it.
FatLabel VolumeLabelOf(const CliOptions& options);
std::string LabelText(const FatLabel& label);

// The command's name as typed ("format"), or "" for none.
std::string CommandName(CliCommand command);
// brevant --help (an empty topic) or brevant help COMMAND. False for an unknown topic.
bool HelpText(const std::string& topic, std::string* text);
// brevant --version: the program's version and the ways it reaches a device.
std::string VersionText();
