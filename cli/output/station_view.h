#pragma once
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "cli/output/station_frame.h"
#include "cli/output/station_stick.h"

// The station's screen. On a terminal: a frame drawn in place (the cursor goes back up over the
// last one and each line is written over), never taller than the terminal so that it never
// scrolls, fitted again whenever the terminal's size changes: a totals line, then the sticks,
// those that failed and those that changed last kept in view when not all fit (StationFrame).
// Off a terminal: plain lines (a stick's line when its phase changes or it ends; while sticks
// run, the totals and the running sticks every few seconds).
class StationView {
  public:
    // plainPeriodSeconds: off a terminal, how often the running sticks are told again.
    StationView(std::FILE* out, bool terminal, double plainPeriodSeconds = 5);
    void Show(const std::vector<StationStick>& sticks, bool force = false);

  private:
    // The sticks as the frame sees them, noting whose state changed since the last look.
    std::vector<ScreenStick> ScreenSticks(const std::vector<StationStick>& sticks);

    struct Seen {
        std::string state;
        std::uint64_t changed = 0;
        std::string said;  // the state its last plain line told
    };

    std::FILE* out_;
    bool terminal_;
    std::size_t drawn_ = 0;  // lines of the last drawing (terminal)
    int rows_ = 0;           // the terminal's size at the last drawing
    int columns_ = 0;
    std::map<std::string, Seen> seen_;  // by node
    std::uint64_t changes_ = 0;
    double plainPeriod_;
    double lastAll_ = 0;
};

// Where a stick stands: running until its worker ends; then complete, retired (the result
// "retired") or failed (any other end, or a worker that ended without a word).
StickStanding StandingOf(const StationStick& stick);

// One line per stick for a terminal `width` columns wide (or a plain line): node, progress,
// phase, bad blocks, or the result once ended.
std::string StickLine(const StationStick& stick, int width);

// The table at the end: stick, result, bad blocks now and at its last run, capacity after,
// verdict, time; under a stick's row, the worker's last words, a counterfeit's sizes, the
// blocks a run that did not complete erased and, when its old pages could not be written back,
// the file that holds them and the command that puts them back.
std::string StationTable(const std::vector<StationStick>& sticks);

// Every line a worker wrote on its standard error, each after the program's name and the
// stick's node ("brevant: sim:s3: ..."), stick by stick.
std::string WorkersWords(const std::vector<StationStick>& sticks);
