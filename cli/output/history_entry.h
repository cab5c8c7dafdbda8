#pragma once
#include <string>

#include "cli/output/history_store.h"
#include "cli/output/run_report.h"
#include "format/health_verdict.h"

// The history's entry for a run of `format` or `check`: who the stick is, what the run did and
// found, and where the old pages went. `judgement` may be null (no verdict); `usbPath` empty
// (the node stands in); `backupFile` empty when no backup was written.
HistoryEntry HistoryEntryOfReport(const RunReport& report, long long startedSeconds,
                                  const HealthJudgement* judgement, const std::string& usbPath,
                                  const std::string& backupFile);
