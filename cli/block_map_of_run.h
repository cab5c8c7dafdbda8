#pragma once
#include "cli/block_map.h"
#include "cli/run_report.h"

// The picture of a run's report: every block of every bank in the state the run left it.
BlockMap BlockMapOfReport(const RunReport& report);
