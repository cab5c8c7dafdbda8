#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/output_path.h"

int main(int argc, char** argv) {
    // A reader of the output that goes away (brevant ... | head) must not end the process in
    // the middle of a format: the run goes on and the writes to the pipe fail quietly.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args(argv + 1, argv + argc);
    CliOptions options;
    std::string error;
    if (!ParseCommandLine(args, &options, &error)) {
        std::fprintf(stderr, "brevant: %s\nbrevant: try 'brevant --help' for more information\n",
                     error.c_str());
        return kExitUsage;
    }
    for (const std::string* output : {&options.logPath, &options.exportImage, &options.exportPages,
                                      &options.tracePath, &options.reportPath, &options.mapPath}) {
        if (!output->empty() && !IsWritableOutputPath(*output, &error)) {
            std::fprintf(stderr, "brevant: %s\n", error.c_str());
            return kExitUsage;
        }
    }
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
        case CliCommand::Version:
            std::fputs(VersionText().c_str(), stdout);
            return kExitComplete;
        case CliCommand::Help:
        case CliCommand::None:
            break;
    }
    std::string help;
    if (!HelpText(options.helpTopic, &help)) {
        std::fprintf(stderr,
                     "brevant: no help for %s: not a command\nbrevant: try 'brevant --help' for "
                     "more information\n",
                     options.helpTopic.c_str());
        return kExitUsage;
    }
    std::fputs(help.c_str(), stdout);
    return kExitComplete;
}
