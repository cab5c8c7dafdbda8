#include "cli/output/station_view.h"

#include <algorithm>
#include <cstdio>

#include "cli/output/progress_view.h"
#include "cli/output/size_text.h"
#include "cli/shared/messages.h"
#include "cli/shared/monotonic_clock.h"
#include "cli/shared/platform_text.h"

namespace {

std::string ResultOf(const StationStick& stick) {
    if (stick.status.ended) return stick.status.result;
    // A worker that has ended may still have lines on its way: it is judged once they are read.
    if (WorkerHeard(stick)) return "failed (the worker ended without a word)";
    return "running";
}

std::string StateWord(const StationStick& stick) {
    if (stick.status.ended) return "end " + stick.status.result;
    if (WorkerHeard(stick)) return "gone";
    return stick.status.phase;
}

}  // namespace

StickStanding StandingOf(const StationStick& stick) {
    if (stick.status.ended) {
        if (stick.status.result == "complete") return StickStanding::Complete;
        if (stick.status.result == "retired") return StickStanding::Retired;
        return StickStanding::Failed;
    }
    return stick.exited ? StickStanding::Failed : StickStanding::Running;
}

StationView::StationView(std::FILE* out, bool terminal, double plainPeriodSeconds)
    : out_(out), terminal_(terminal), plainPeriod_(plainPeriodSeconds) {}

std::vector<ScreenStick> StationView::ScreenSticks(const std::vector<StationStick>& sticks) {
    std::vector<ScreenStick> screen;
    const double now = MonotonicSeconds();
    for (const StationStick& stick : sticks) {
        Seen& seen = seen_[stick.identity.node];
        const std::string state = StateWord(stick);
        if (state != seen.state) {
            seen.state = state;
            seen.changed = ++changes_;
        }
        ScreenStick s;
        s.line = StickLine(stick, 0);
        s.standing = StandingOf(stick);
        s.changed = seen.changed;
        if (s.standing == StickStanding::Running) {
            ProgressFigures figures;
            figures.blocksDone = stick.status.blocksDone;
            figures.totalBlocks = stick.status.totalBlocks;
            figures.elapsedSeconds = now - stick.started;
            s.secondsLeft = SecondsLeft(figures);
        }
        screen.push_back(s);
    }
    return screen;
}

void StationView::Show(const std::vector<StationStick>& sticks, bool force) {
    const std::vector<ScreenStick> screen = ScreenSticks(sticks);
    if (terminal_) {
        const int rows = TerminalRows(out_);
        const int columns = TerminalWidth(out_);
        const std::vector<std::string> frame = StationFrame(screen, rows, columns);
        // Back up over the last drawing (no further than the screen's top) and write every line
        // again in its place; whatever the last drawing had below goes. After a resize the same
        // clears what the old frame left.
        const std::size_t up = std::min<std::size_t>(drawn_, static_cast<std::size_t>(rows));
        if (up > 0) std::fprintf(out_, "\033[%zuA", up);
        if (rows != rows_ || columns != columns_) std::fputs("\r\033[J", out_);
        for (const std::string& line : frame) std::fprintf(out_, "\r%s\033[K\n", line.c_str());
        std::fputs("\033[J", out_);
        drawn_ = frame.size();
        rows_ = rows;
        columns_ = columns;
        std::fflush(out_);
        return;
    }
    // Off a terminal each line stays where it was written: a stick's line when its phase or its
    // result changes, and every few seconds, while sticks run, the totals and the running
    // sticks' figures. A stick that has ended is not told again, however long the watch goes on.
    const bool running = std::any_of(screen.begin(), screen.end(), [](const ScreenStick& s) {
        return s.standing == StickStanding::Running;
    });
    const bool periodic = force || (running && MonotonicSeconds() - lastAll_ >= plainPeriod_);
    if (periodic) std::fprintf(out_, "%s\n", StationTotals(screen).c_str());
    for (std::size_t i = 0; i < sticks.size(); ++i) {
        const std::string state = StateWord(sticks[i]);
        const bool again = periodic && screen[i].standing == StickStanding::Running;
        std::string& said = seen_[sticks[i].identity.node].said;
        if (!again && state == said) continue;
        said = state;
        std::fprintf(out_, "%s\n", screen[i].line.c_str());
    }
    if (periodic) lastAll_ = MonotonicSeconds();
    std::fflush(out_);
}

std::string StickLine(const StationStick& stick, int width) {
    const WorkerStatus& s = stick.status;
    std::string line = stick.identity.node + "  ";
    if (s.ended || WorkerHeard(stick)) {
        line += ResultOf(stick) + ", " + std::to_string(s.badBlocks) + " bad";
        if (s.capacityKnown) line += ", " + SizeText(s.capacitySectors);
    } else {
        char figures[96];
        std::snprintf(figures, sizeof figures, "%3d%%  %u/%u  %s  %u bad",
                      BlocksDonePercent(s.blocksDone, s.totalBlocks), s.blocksDone, s.totalBlocks,
                      s.phase.c_str(), s.badBlocks);
        line += figures;
    }
    if (width > 1 && line.size() >= static_cast<std::size_t>(width)) {
        line.resize(static_cast<std::size_t>(width - 1));
    }
    return line;
}

std::string WorkersWords(const std::vector<StationStick>& sticks) {
    std::string text;
    for (const StationStick& stick : sticks) {
        for (const std::string& word : stick.words) {
            text += MessageLine(stick.identity.node + ": " + word);
        }
    }
    return text;
}

std::string StationTable(const std::vector<StationStick>& sticks) {
    std::string table;
    char row[256];
    std::snprintf(row, sizeof row, "%-16s %-16s %5s %5s  %-10s %-11s %8s\n", "STICK", "RESULT",
                  "BAD", "LAST", "CAPACITY", "VERDICT", "TIME");
    table += row;
    for (const StationStick& stick : sticks) {
        const WorkerStatus& s = stick.status;
        // The capacity in MiB alone: the report has the sectors.
        std::string capacity = s.capacityKnown ? SizeText(s.capacitySectors) : "-";
        capacity = capacity.substr(0, capacity.find(" ("));
        const std::string last = stick.previousBad ? std::to_string(*stick.previousBad) : "-";
        const long seconds = static_cast<long>(stick.seconds + 0.5);
        std::string result = ResultOf(stick);
        if (s.ended && s.unmarkable != 0) result += " (unmarkable)";
        std::snprintf(row, sizeof row, "%-16s %-16s %5u %5s  %-10s %-11s %8s\n",
                      stick.identity.node.substr(0, 16).c_str(), result.substr(0, 16).c_str(),
                      s.badBlocks, last.c_str(), capacity.c_str(),
                      s.verdict.empty() ? "-" : s.verdict.c_str(), ShortDuration(seconds).c_str());
        table += row;
        if (!stick.words.empty()) table += "  " + stick.words.back() + "\n";
        if (!stick.counterfeit.empty()) table += "  " + stick.counterfeit + "\n";
        if (s.ended && s.result != "complete" && s.erasedBlocks != 0) {
            table += "  " + std::to_string(s.erasedBlocks) +
                     " blocks were erased before it ended: the data they held is gone\n";
        }
        if (s.pagesLost && !s.backupFile.empty()) {
            table += "  the old pages are kept in " + s.backupFile + "; put them back with: " +
                     (s.restoreCommand.empty()
                          ? std::string(kProgramName) + " restore-cis " + ShellWord(s.backupFile)
                          : s.restoreCommand) +
                     "\n";
        }
    }
    return table;
}
