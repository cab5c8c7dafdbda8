#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/shared/terminal.h"

// The progress of a run on the terminal: a line that redraws itself in place, fitted to the
// terminal's width at every update so that it never wraps, or plain lines (at most one every
// few seconds) when the output goes to a file or a pipe.

struct ProgressFigures {
    std::uint32_t blocksDone = 0;
    std::uint32_t totalBlocks = 0;
    std::uint32_t badBlocks = 0;
    double elapsedSeconds = 0;
    const char* phase = "scan";  // what the run is doing: "scan", "CIS page and volume", ...
};

// The share of the blocks done, 0 to 100 (0 while the total is not known yet).
int BlocksDonePercent(std::uint32_t done, std::uint32_t total);

// Seconds still to go, from the pace so far; negative when there is no estimate yet.
long SecondsLeft(const ProgressFigures& figures);

// "1:02:05" or "2:05".
std::string ShortDuration(long seconds);

// The progress line for a terminal `width` columns wide, always shorter than that: the bar,
// the percentage, blocks done of all, the rate, the phase, bad blocks so far and the time left;
// on a narrow terminal the bar shrinks and the less needed parts go first.
std::string ProgressLine(const ProgressFigures& figures, int width);
// The plain line, all parts: "37%  1516/4096 blocks  512 blocks/s  scan  3 bad  0:05 left".
std::string ProgressText(const ProgressFigures& figures);

class ProgressView {
  public:
    // terminal: redraw in place; quiet: show nothing at all.
    ProgressView(std::FILE* out, bool terminal, bool quiet = false);

    // Shows the figures if it is time to (or always, with force).
    void Update(const ProgressFigures& figures, bool force = false);
    // Ends the line in place, so that other text can follow. Call before any prompt or message.
    void Break();

  private:
    std::FILE* out_;
    bool terminal_;
    bool quiet_;
    bool shownOnce_ = false;
    bool lineOpen_ = false;
    std::chrono::steady_clock::time_point last_;
    std::string lastText_;
};
