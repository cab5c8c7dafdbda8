#pragma once
#include <cstdint>
#include <string>
#include <vector>

// What the station's screen shows, worked out from the sticks' states and the terminal's size
// alone, so that it can be drawn in place and checked without a terminal.

// Where a stick stands.
enum class StickStanding : std::uint8_t {
    Running,
    Complete,
    Failed,   // ended without a complete format: failed, stopped, pulled, write-protected, ...
    Retired,  // left unformatted by the station's rule on bad blocks
};

struct ScreenStick {
    std::string line;  // its line, as StickLine gives it for a plain output
    StickStanding standing = StickStanding::Running;
    // When its state (phase or result) last changed: a count that rises with every change seen.
    std::uint64_t changed = 0;
    long secondsLeft = -1;  // a running stick's estimate; negative while there is none
};

// "32 sticks: 12 running, 18 complete, 1 failed, 1 retired; 2:05 left": the time left is the
// longest estimate of a running stick ("time left unknown" while none has one yet; nothing
// once none runs).
std::string StationTotals(const std::vector<ScreenStick>& sticks);

// The frame for a terminal of `rows` rows and `columns` columns: the totals line, then the
// sticks' lines, at most rows - 1 lines in all (the cursor rests on the last row, so a drawing
// never scrolls) and each shorter than `columns` (so none wraps). When the sticks do not all
// fit, the failed ones and then those that changed last are shown, in the sticks' order, and one
// line sums up the others ("... 14 more: 12 running, 2 complete").
std::vector<std::string> StationFrame(const std::vector<ScreenStick>& sticks, int rows,
                                      int columns);
