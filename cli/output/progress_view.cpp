#include "cli/output/progress_view.h"

#include <cstdio>
#include <vector>

namespace {

constexpr auto kTerminalPeriod = std::chrono::milliseconds(200);
constexpr auto kPlainPeriod = std::chrono::seconds(5);
constexpr int kWidestBar = 30;
constexpr int kNarrowestBar = 10;

std::string Rate(const ProgressFigures& f) {
    if (f.elapsedSeconds < 1 || f.blocksDone == 0) return "-- blocks/s";
    char text[32];
    std::snprintf(text, sizeof text, "%.0f blocks/s", f.blocksDone / f.elapsedSeconds);
    return text;
}

std::string Left(const ProgressFigures& f) {
    const long left = SecondsLeft(f);
    return (left < 0 ? std::string("--:--") : ShortDuration(left)) + " left";
}

std::string Bar(int percent, int cells) {
    const int filled = percent * cells / 100;
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(cells - filled), '-') + "]";
}

}  // namespace

int BlocksDonePercent(std::uint32_t done, std::uint32_t total) {
    if (total == 0) return 0;
    if (done > total) done = total;
    return static_cast<int>(static_cast<std::uint64_t>(done) * 100 / total);
}

long SecondsLeft(const ProgressFigures& figures) {
    if (figures.totalBlocks != 0 && figures.blocksDone >= figures.totalBlocks) return 0;
    if (figures.blocksDone == 0 || figures.totalBlocks == 0 || figures.elapsedSeconds < 1) {
        return -1;
    }
    const std::uint32_t left = figures.totalBlocks - figures.blocksDone;
    return static_cast<long>(figures.elapsedSeconds * left / figures.blocksDone + 0.5);
}

std::string ShortDuration(long seconds) {
    char text[32];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60,
                      seconds % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", seconds / 60, seconds % 60);
    }
    return text;
}

std::string ProgressText(const ProgressFigures& f) {
    char head[64];
    std::snprintf(head, sizeof head, "%3d%%  %u/%u blocks",
                  BlocksDonePercent(f.blocksDone, f.totalBlocks), f.blocksDone, f.totalBlocks);
    return std::string(head) + "  " + Rate(f) + "  " + f.phase + "  " +
           std::to_string(f.badBlocks) + " bad  " + Left(f);
}

std::string ProgressLine(const ProgressFigures& f, int width) {
    const int room = width - 1;  // the last column is left free: writing it may wrap
    char head[64];
    std::snprintf(head, sizeof head, "%3d%%  %u/%u", BlocksDonePercent(f.blocksDone, f.totalBlocks),
                  f.blocksDone, f.totalBlocks);
    // The parts in the order they are given up when the line is too long for the terminal.
    struct Part {
        std::string text;
        bool kept;
    };
    std::vector<Part> parts = {{head, true},
                               {" blocks", true},
                               {"  " + std::string(f.phase), true},
                               {"  " + std::to_string(f.badBlocks) + " bad", true},
                               {"  " + Left(f), true},
                               {"  " + Rate(f), true}};
    const int drop[] = {5, 4, 2, 1, 3};  // rate, time left, phase, "blocks", bad
    auto length = [&parts] {
        int n = 0;
        for (const Part& p : parts) n += p.kept ? static_cast<int>(p.text.size()) : 0;
        return n;
    };
    auto join = [&parts] {
        std::string line;
        const int order[] = {0, 1, 5, 2, 3, 4};
        for (int i : order)
            line += parts[static_cast<std::size_t>(i)].kept
                        ? parts[static_cast<std::size_t>(i)].text
                        : "";
        return line;
    };
    // The bar takes what is left, between its narrowest and widest.
    for (int next = 0;; ++next) {
        const int bar = room - length() - 1 - 2;
        if (bar >= kNarrowestBar) {
            const int cells = bar > kWidestBar ? kWidestBar : bar;
            return Bar(BlocksDonePercent(f.blocksDone, f.totalBlocks), cells) + " " + join();
        }
        if (next >= static_cast<int>(sizeof drop / sizeof drop[0])) break;
        parts[static_cast<std::size_t>(drop[next])].kept = false;
    }
    // Too narrow for a bar: the figures alone, cut to the room there is.
    const std::string line = join();
    return line.substr(0, room > 0 ? static_cast<std::size_t>(room) : 0);
}

ProgressView::ProgressView(std::FILE* out, bool terminal, bool quiet)
    : out_(out), terminal_(terminal), quiet_(quiet) {
    if (terminal_ && !quiet_) WatchResizes();
}

void ProgressView::Update(const ProgressFigures& figures, bool force) {
    if (quiet_) return;
    const auto now = std::chrono::steady_clock::now();
    const auto period = terminal_ ? std::chrono::steady_clock::duration(kTerminalPeriod)
                                  : std::chrono::steady_clock::duration(kPlainPeriod);
    const bool redraw = terminal_ && TakeResize();
    if (!force && !redraw && shownOnce_ && now - last_ < period) return;
    if (terminal_) {
        const std::string line = ProgressLine(figures, TerminalWidth(out_));
        RewriteLine(out_, line);
        lineOpen_ = true;
        lastText_ = line;
    } else {
        const std::string text = ProgressText(figures);
        if (shownOnce_ && text == lastText_) return;  // nothing new to say
        std::fprintf(out_, "progress: %s\n", text.c_str());
        lastText_ = text;
    }
    std::fflush(out_);
    last_ = now;
    shownOnce_ = true;
}

void ProgressView::Break() {
    if (lineOpen_) {
        std::fputc('\n', out_);
        std::fflush(out_);
        lineOpen_ = false;
    }
}
