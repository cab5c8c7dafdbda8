#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/commands/commands.h"
#include "cli/shared/cli_options.h"
#include "cli/shared/exit_codes.h"
#include "cli/shared/messages.h"
#include "cli/shared/output_file.h"
#include "cli/shared/platform_text.h"
#include "cli/shared/stop_signals.h"

namespace {

std::string TryHelp() {
    return std::string("try '") + kProgramName + " --help' for more information";
}

int RunCommand(const CliOptions& options) {
    switch (options.command) {
        case CliCommand::List:
            return RunListCommand(options);
        case CliCommand::Format:
            return RunFormatCommand(options);
        case CliCommand::Watch:
            return RunWatchCommand(options);
        case CliCommand::Check:
            return RunCheckCommand(options);
        case CliCommand::RestoreCis:
            return RunRestoreCisCommand(options);
        case CliCommand::History:
            return RunHistoryCommand(options);
        case CliCommand::Version:
            std::fputs(VersionText().c_str(), stdout);
            return kExitComplete;
        case CliCommand::Help:
        case CliCommand::None:
            break;
    }
    std::string help;
    if (!HelpText(options.helpTopic, &help)) {
        Complain("no help for " + options.helpTopic + ": not a command");
        Complain(TryHelp());
        return kExitUsage;
    }
    std::fputs(help.c_str(), stdout);
    return kExitComplete;
}

}  // namespace

int main(int argc, char** argv) {
    IgnoreOutputSignals();
    std::vector<std::string> args(argv + 1, argv + argc);
    CliOptions options;
    std::string error;
    if (!ParseCommandLine(args, &options, &error)) {
        Complain(error);
        Complain(TryHelp());
        return kExitUsage;
    }
    // Every file the run will write is looked at before anything is sent to a device: a run is
    // not to find out at its end that its report has nowhere to go.
    for (const std::string* output : {&options.exportImage, &options.exportPages,
                                      &options.tracePath, &options.reportPath, &options.mapPath}) {
        if (!output->empty() && !CheckOutputPath(*output, OutputUse::Whole, &error)) {
            Complain(error);
            return kExitUsage;
        }
    }
    if (!options.logPath.empty() &&
        !CheckOutputPath(options.logPath, OutputUse::Appended, &error)) {
        Complain(error);
        return kExitUsage;
    }
    try {
        return RunCommand(options);
    } catch (const std::exception& failure) {
        // Every call that can fail is meant to say so by its result; this is the last guard.
        Complain(std::string("unexpected error: ") + failure.what());
        return kExitFailed;
    }
}
