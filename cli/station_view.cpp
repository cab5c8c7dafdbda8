#include "cli/station_view.h"

#include <ctime>

#include "cli/monotonic_clock.h"
#include "cli/progress_view.h"

namespace {

constexpr double kPlainPeriodSeconds = 5;

std::string StateWord(const StationStick& stick) {
    if (stick.status.ended) return "end " + stick.status.result;
    if (WorkerHeard(stick)) return "gone";
    return stick.status.phase;
}

}  // namespace

StationView::StationView(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

void StationView::Show(const std::vector<StationStick>& sticks, bool force) {
    if (terminal_) {
        const int width = TerminalWidth(out_);
        // Back up over the last drawing and write every line again in its place.
        if (drawn_ > 0) std::fprintf(out_, "\033[%zuA", drawn_);
        for (const StationStick& stick : sticks) {
            std::fprintf(out_, "\r%s\033[K\n", StickLine(stick, width).c_str());
        }
        std::fputs("\033[J", out_);  // whatever the last drawing had below, gone
        drawn_ = sticks.size();
        std::fflush(out_);
        return;
    }
    said_.resize(sticks.size());
    const bool all = force || MonotonicSeconds() - lastAll_ >= kPlainPeriodSeconds;
    for (std::size_t i = 0; i < sticks.size(); ++i) {
        const std::string state = StateWord(sticks[i]);
        if (!all && state == said_[i]) continue;
        said_[i] = state;
        std::fprintf(out_, "%s\n", StickLine(sticks[i], 0).c_str());
    }
    if (all) lastAll_ = MonotonicSeconds();
    std::fflush(out_);
}
