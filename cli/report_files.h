#pragma once
#include "cli/cli_options.h"
#include "cli/run_report.h"

// The report of a run on standard output (--json), in a file (--report) and its picture
// (--map), written however the run ended. False when a file could not be written (the reason
// has been shown on standard error).
bool WriteReportFiles(const CliOptions& options, const RunReport& report);
