#pragma once
#include <cstdint>
#include <string>

#include "cli/output/run_report.h"

// What a person reads at the end of a format or a check: the result, the bad blocks of each bank
// with their reasons, the capacity before and after, and what needs their attention (blocks
// whose bad mark did not hold, old pages that could not be put back).

// The summary's lines, each ending in a line feed: the result, the bad blocks, the capacities;
// for a run that did not complete, what it erased and what became of the old pages (with the
// command that puts them back when they are lost); the stick's previous run; the verdict.
std::string FormatSummary(const RunReport& report);
