#pragma once
#include "cli/cli_options.h"

// The two commands of `brevant`; each returns the process's exit code (cli/exit_codes.h).
int RunListCommand(const CliOptions& options);
int RunFormatCommand(const CliOptions& options);
