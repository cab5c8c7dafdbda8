#pragma once
#include <memory>
#include <optional>
#include <string>

#include "cli/output/history_store.h"
#include "cli/output/run_report.h"

// The history as a run of `format` or `check` uses it: opened as the run begins, the stick's
// previous whole run looked up, the run recorded as it ends. A history that cannot be used is
// warned of once, on standard error, and the run goes on without it: it never stops a format.
class RunHistory {
  public:
    // Opens the database in the user's state folder.
    RunHistory();

    // The stick's newest whole run, or nothing (none, or no history).
    std::optional<HistoryEntry> Previous(const DeviceIdentity& stick);
    // Adds the run. `startedSeconds`: when it began, in seconds since 1970.
    void Record(const RunReport& report, long long startedSeconds);

  private:
    void Warn(const std::string& reason);

    std::unique_ptr<HistoryStore> store_;
    bool warned_ = false;
};

// What the history knows the stick by (HistoryStickKey of its serial, USB path and node).
std::string HistoryKeyOf(const DeviceIdentity& stick);
