#include "cli/cli_options.h"

#include <cerrno>
#include <cstdlib>

namespace {

// Options that take a value, and where the value goes.
struct ValueOption {
    const char* name;
    std::string CliOptions::*target;
};

const ValueOption kValueOptions[] = {
    {"--device", &CliOptions::device},
    {"--settings", &CliOptions::settingsPath},
    {"--log", &CliOptions::logPath},
    {"--simulate", &CliOptions::simulate},
    {"--export-image", &CliOptions::exportImage},
    {"--export-pages", &CliOptions::exportPages},
    {"--trace", &CliOptions::tracePath},
};

bool ParseMicroseconds(const std::string& text, std::uint32_t* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || v > 10000000ull) return false;  // at most ten seconds a command
    *value = static_cast<std::uint32_t>(v);
    return true;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CliOptions* options,
                      std::string* error) {
    CliOptions parsed;
    bool fullGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasInlineValue = false;
        if (arg.compare(0, 2, "--") == 0) {
            std::size_t equals = arg.find('=');
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
                arg = arg.substr(0, equals);
                hasInlineValue = true;
            }
        }
        if (arg == "-h" || arg == "--help") {
            parsed.command = CliCommand::Help;
            *options = parsed;
            return true;
        }
        if (arg == "list" || arg == "format") {
            if (parsed.command != CliCommand::None) {
                *error = "only one command may be given (list or format)";
                return false;
            }
            parsed.command = arg == "list" ? CliCommand::List : CliCommand::Format;
            continue;
        }
        if (arg == "--full" || arg == "--yes" || arg == "-y") {
            if (hasInlineValue) {
                *error = arg + " takes no value";
                return false;
            }
            if (arg == "--full") {
                fullGiven = true;
            } else {
                parsed.assumeYes = true;
            }
            continue;
        }
        const ValueOption* option = nullptr;
        for (const auto& candidate : kValueOptions) {
            if (arg == candidate.name) option = &candidate;
        }
        bool isLatency = arg == "--sim-latency";
        if (option == nullptr && !isLatency) {
            *error =
                arg.compare(0, 1, "-") == 0 ? "unknown option " + arg : "unknown command " + arg;
            return false;
        }
        if (!hasInlineValue) {
            if (i + 1 >= args.size()) {
                *error = arg + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (value.empty()) {
            *error = arg + " needs a value";
            return false;
        }
        if (isLatency) {
            if (!ParseMicroseconds(value, &parsed.simLatencyMicroseconds)) {
                *error = "--sim-latency needs a whole number of microseconds up to 10000000";
                return false;
            }
            parsed.latencyGiven = true;
            continue;
        }
        parsed.*(option->target) = value;
        if (option->target == &CliOptions::settingsPath) parsed.settingsGiven = true;
    }

    if (parsed.command == CliCommand::None) {
        *error = "no command given (list or format)";
        return false;
    }
    if (parsed.command == CliCommand::List && (fullGiven || parsed.assumeYes)) {
        *error = fullGiven ? "--full belongs to format" : "--yes belongs to format";
        return false;
    }
    bool simOnly = !parsed.exportImage.empty() || !parsed.exportPages.empty() ||
                   !parsed.tracePath.empty() || parsed.latencyGiven;
    if (simOnly && parsed.simulate.empty()) {
        *error = "--export-image, --export-pages, --trace and --sim-latency need --simulate";
        return false;
    }
    parsed.mode = fullGiven ? FormatMode::Full : FormatMode::Quick;
    *options = parsed;
    return true;
}

std::string UsageText() {
    return "Usage: brevant list [--device NODE] [--simulate DESCRIPTION]\n"
           "       brevant format [--full] [--device NODE] [--yes] [--settings FILE]\n"
           "                      [--log FILE] [--simulate DESCRIPTION [--export-image FILE]\n"
           "                      [--export-pages FILE] [--trace FILE] [--sim-latency US]]\n"
           "\n"
           "Low-level formats a USB flash disk of the controller family Brevant knows: every\n"
           "block of every flash bank is checked, bad blocks are kept out, the card information\n"
           "page is rewritten and an empty FAT volume is laid down. All the data on the disk is\n"
           "erased.\n"
           "\n"
           "  list                 the reader units found: medium, capacity, write protection\n"
           "  format               a Quick format (bad-block scan and erase)\n"
           "  --full               a Full format: surface tests of every block as well\n"
           "  --device NODE        the node to use (/dev/sgN or /dev/sdX); only that node is\n"
           "                       examined. Without it the one flash disk found is used\n"
           "  --yes, -y            do not ask for confirmation\n"
           "  --settings FILE      the format switches ([Setting] section, as Brevant.ini);\n"
           "                       default: Brevant.ini in the current folder, if there is one\n"
           "  --log FILE           write the run's log to FILE (default: brevant.log in the\n"
           "                       current folder when the settings say GenerateLog=1)\n"
           "  --simulate FILE      run against a simulated flash disk described in FILE; needs\n"
           "                       no root and touches no real device\n"
           "  --export-image FILE  after the run, write the simulated disk's logical sectors\n"
           "  --export-pages FILE  after the run, write bank 0's first 256 raw pages (528 bytes\n"
           "                       each)\n"
           "  --trace FILE         after the run, write every command the simulator received\n"
           "  --sim-latency US     a pause of US microseconds per simulated command\n"
           "\n"
           "Ctrl-C during a format stops it and writes the old card information page back.\n"
           "Real devices need root.\n"
           "\n"
           "Exit status: 0 complete, 1 failed, 2 usage error, 3 cancelled, 4 no disk to format\n"
           "(no rights, no reader, not ready or write-protected).\n";
}
