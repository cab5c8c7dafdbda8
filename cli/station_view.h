#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "cli/station.h"

// The station's screen: one line per stick, redrawn in place on a terminal (each fitted to its
// width), or plain lines when the output is a file or a pipe (a stick's line when its phase
// changes or it ends, all of them every few seconds).
class StationView {
  public:
    StationView(std::FILE* out, bool terminal);
    void Show(const std::vector<StationStick>& sticks, bool force = false);

  private:
    std::FILE* out_;
    bool terminal_;
    std::size_t drawn_ = 0;          // lines of the last drawing (terminal)
    std::vector<std::string> said_;  // each stick's last phase or result (plain)
    double lastAll_ = 0;
};
