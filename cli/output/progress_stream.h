#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/output/progress_view.h"
#include "cli/output/run_report.h"

// --progress json: how a run goes, one JSON object a line on standard output, for a program
// that wraps brevant; a station's parent reads its workers so. Each object names its event:
//
//   {"event":"progress","phase":"scan","blocks_done":512,"blocks_total":1024,"bad_blocks":3,
//    "blocks_per_second":2048.0,"elapsed_s":0.25}
//   {"event":"backup","file":"/home/ann/.local/state/brevant/cis/X-20261208-093000.cis"}
//   {"event":"end","command":"format","result":"complete","exit_code":0,"bad_blocks":3,...}
//
// "progress" comes a few times a second at most and at every change of phase ("look", "scan",
// "CIS page and volume", "old pages back", ...); "backup" once the old pages are kept, before
// anything is erased; "end" last, with the result and the figures of the report (see
// WriteEndEvent). A reader skips events and fields it does not know.

// Writes the events to `out`; with none, nothing.
class ProgressEvents {
  public:
    explicit ProgressEvents(std::FILE* out = nullptr) : out_(out) {}
    // "progress", at most a few a second unless forced.
    void Progress(const ProgressFigures& figures, bool force = false);
    void Backup(const std::string& file);
    // "end": command, result, exit_code, message, bad_blocks, unmarkable_blocks, erased_blocks,
    // capacity_after_sectors, backup_file, pages_lost, restore_command, verdict,
    // verdict_reasons, previous_bad_blocks (null when unknown).
    void End(const RunReport& report);

  private:
    std::FILE* out_;
    double last_ = -1;
};

// What a station's parent knows of a worker from its events.
struct WorkerStatus {
    bool ended = false;
    std::uint32_t blocksDone = 0;
    std::uint32_t totalBlocks = 0;
    std::uint32_t badBlocks = 0;
    std::string phase = "starting";
    int exitCode = -1;
    std::string result;
    std::uint32_t unmarkable = 0;
    std::uint32_t erasedBlocks = 0;
    bool capacityKnown = false;
    std::uint32_t capacitySectors = 0;
    std::string message;
    std::string backupFile;      // where the old pages were kept
    bool pagesLost = false;      // they could not be written back: backupFile holds them
    std::string restoreCommand;  // and this puts them back
    std::string verdict;
};

// Takes one line into the status; false for a line that is no event of a worker.
bool ReadProgressEvent(const std::string& line, WorkerStatus* status);
