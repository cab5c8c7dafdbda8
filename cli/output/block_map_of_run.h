#pragma once
#include "cli/output/block_map.h"
#include "cli/output/run_report.h"

// The picture of a run's report: every block of every bank in the state the run left it.
BlockMap BlockMapOfReport(const RunReport& report);
