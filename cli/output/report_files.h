#pragma once
#include "cli/output/progress_stream.h"
#include "cli/output/run_report.h"
#include "cli/shared/cli_options.h"

class Machine;

// The end every command that reports on a stick comes to (format, check): the report on
// standard output (--json), in its file (--report) and its picture (--map) when the command got
// as far as a stick (`reported`), written however the run ended; then the simulated machine's
// exports, however the run ended (the trace of a refused run shows what was not sent); last the
// end event of --progress json, with the exit status. A file that could not be written is said
// on standard error and turns a complete run into a failed one. Returns the exit status.
int EndReportedCommand(const CliOptions& options, Machine& machine, bool reported,
                       RunReport& report, ProgressEvents& events, int exitCode);
