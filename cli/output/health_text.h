#pragma once
#include <cstdio>
#include <string>

#include "cli/output/progress_stream.h"
#include "cli/output/run_report.h"
#include "format/health_scan.h"
#include "format/health_verdict.h"

// What a look at a stick (check, and format --dry-run) found, for the report and for a person.

// Looks at every block of the stick (ScanHealth) with its progress, phase "look", on `out` (a
// line in place on a terminal, plain lines otherwise; nothing when quiet) and as `events`. A stop
// signal ends the look at the next block.
HealthScan LookAtEveryBlock(ReaderUnit& stick, std::FILE* out, bool quiet, ProgressEvents& events);

// The look's banks, CIS page, sizes and volume in the report.
void FillCheckReport(const HealthScan& scan, RunReport* report);

// The lines a look shows: the logical size; each bank with its geometry, its bad blocks, the
// blocks holding data and its spare blocks; the CIS page and the vendor page; the volume; the
// most the flash can hold against what the stick announces.
std::string CheckSummary(const HealthScan& scan, const HealthJudgement& judgement);
