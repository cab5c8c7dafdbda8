#include "cli/output/station_frame.h"

#include <algorithm>
#include <array>
#include <numeric>

#include "cli/output/progress_view.h"

namespace {

constexpr std::array<const char*, 4> kStandingNames = {"running", "complete", "failed", "retired"};

using Counts = std::array<std::size_t, kStandingNames.size()>;

// "12 running, 2 complete": the standings with sticks in them, or all of them.
std::string CountsText(const Counts& counts, bool all) {
    std::string text;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        if (!all && counts[i] == 0) continue;
        text += (text.empty() ? "" : ", ") + std::to_string(counts[i]) + " " + kStandingNames[i];
    }
    return text;
}

std::string Fitted(std::string line, int columns) {
    if (columns > 1 && line.size() >= static_cast<std::size_t>(columns)) {
        line.resize(static_cast<std::size_t>(columns - 1));
    }
    return line;
}

}  // namespace

std::string StationTotals(const std::vector<ScreenStick>& sticks) {
    Counts counts{};
    long left = -1;
    for (const ScreenStick& s : sticks) {
        ++counts[static_cast<std::size_t>(s.standing)];
        if (s.standing == StickStanding::Running) left = std::max(left, s.secondsLeft);
    }
    std::string text = std::to_string(sticks.size()) +
                       (sticks.size() == 1 ? " stick: " : " sticks: ") + CountsText(counts, true);
    if (counts[static_cast<std::size_t>(StickStanding::Running)] != 0) {
        text += left >= 0 ? "; " + ShortDuration(left) + " left" : "; time left unknown";
    }
    return text;
}

std::vector<std::string> StationFrame(const std::vector<ScreenStick>& sticks, int rows,
                                      int columns) {
    const std::size_t lines = static_cast<std::size_t>(std::max(rows - 1, 1));
    std::vector<std::string> frame = {Fitted(StationTotals(sticks), columns)};
    if (lines == 1) return frame;

    std::vector<bool> shown(sticks.size(), true);
    if (sticks.size() + 1 > lines) {
        // The failed first, each group the latest changed first; a summary line takes one row.
        std::vector<std::size_t> order(sticks.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&sticks](std::size_t a, std::size_t b) {
            const bool failedA = sticks[a].standing == StickStanding::Failed;
            const bool failedB = sticks[b].standing == StickStanding::Failed;
            if (failedA != failedB) return failedA;
            return sticks[a].changed > sticks[b].changed;
        });
        const std::size_t room = lines - 2;
        shown.assign(sticks.size(), false);
        for (std::size_t i = 0; i < room && i < order.size(); ++i) shown[order[i]] = true;
    }
    Counts hidden{};
    for (std::size_t i = 0; i < sticks.size(); ++i) {
        if (shown[i]) {
            frame.push_back(Fitted(sticks[i].line, columns));
        } else {
            ++hidden[static_cast<std::size_t>(sticks[i].standing)];
        }
    }
    const std::size_t more = std::accumulate(hidden.begin(), hidden.end(), std::size_t{0});
    if (more != 0) {
        frame.push_back(
            Fitted("... " + std::to_string(more) + " more: " + CountsText(hidden, false), columns));
    }
    return frame;
}
