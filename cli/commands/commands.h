#pragma once
#include "cli/shared/cli_options.h"
#include "core/format_settings.h"

// The commands of `brevant`; each returns the process's exit code (cli/exit_codes.h).
int RunListCommand(const CliOptions& options);
int RunFormatCommand(const CliOptions& options);
// format --dry-run: the look, and what a format would do; nothing but reading commands.
int RunFormatDryRun(const CliOptions& options, const FormatSettings& settings);
int RunRestoreCisCommand(const CliOptions& options);
int RunCheckCommand(const CliOptions& options);
// format --all, several --device, or --report-dir: a worker per stick.
int RunStationFormat(const CliOptions& options);
int RunWatchCommand(const CliOptions& options);
int RunHistoryCommand(const CliOptions& options);
