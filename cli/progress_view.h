#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

// The progress of a format on the terminal: a bar that redraws itself in place on a terminal,
// plain lines (one every two seconds) when the output goes to a file or a pipe.

struct ProgressFigures {
    std::uint32_t blocksDone = 0;
    std::uint32_t totalBlocks = 0;
    std::uint32_t badBlocks = 0;
    double elapsedSeconds = 0;
};

// The share of the blocks done, for the bar and the progress line. For now on the dialog's scale,
// 4 before the first block and 100 when every block is done (0 while the total is not known
// yet); it is meant to become the plain share. The dialog's tick has ProgressTickPercent.
int BlocksDonePercent(std::uint32_t done, std::uint32_t total);

// Seconds still to go, from the pace so far; negative when there is no estimate yet.
long SecondsLeft(const ProgressFigures& figures);

// "1:02:05" or "2:05".
std::string ShortDuration(long seconds);

// One progress line without the bar: "52%  2130/4096 blocks  3 bad  0:12 left".
std::string ProgressText(const ProgressFigures& figures);
// The bar: "[##########----------]", `width` cells between the brackets.
std::string ProgressBar(int percent, int width);

class ProgressView {
  public:
    ProgressView(std::FILE* out, bool terminal);

    // Shows the figures if it is time to (or always, with force).
    void Update(const ProgressFigures& figures, bool force = false);
    // Ends the bar's line, so that other text can follow. Call before any prompt or message.
    void Break();

  private:
    std::FILE* out_;
    bool terminal_;
    bool shownOnce_ = false;
    bool lineOpen_ = false;
    std::chrono::steady_clock::time_point last_;
    std::string lastText_;
};
