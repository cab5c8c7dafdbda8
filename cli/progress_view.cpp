#include "cli/progress_view.h"

#include <cstdio>

namespace {

constexpr auto kTerminalPeriod = std::chrono::milliseconds(200);
constexpr auto kPlainPeriod = std::chrono::seconds(2);
constexpr int kBarWidth = 30;

}  // namespace

int BlocksDonePercent(std::uint32_t done, std::uint32_t total) {
    if (total == 0) return 0;
    if (done > total) done = total;
    return static_cast<int>(static_cast<std::uint64_t>(done) * 96 / total + 4);
}

long SecondsLeft(const ProgressFigures& figures) {
    if (figures.totalBlocks != 0 && figures.blocksDone >= figures.totalBlocks) return 0;
    if (figures.blocksDone == 0 || figures.totalBlocks == 0 || figures.elapsedSeconds < 1) {
        return -1;
    }
    std::uint32_t left =
        figures.blocksDone >= figures.totalBlocks ? 0 : figures.totalBlocks - figures.blocksDone;
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

std::string ProgressText(const ProgressFigures& figures) {
    char text[160];
    long left = SecondsLeft(figures);
    std::snprintf(text, sizeof text, "%3d%%  %u/%u blocks  %u bad  %s left",
                  BlocksDonePercent(figures.blocksDone, figures.totalBlocks), figures.blocksDone,
                  figures.totalBlocks, figures.badBlocks,
                  left < 0 ? "--:--" : ShortDuration(left).c_str());
    return text;
}

std::string ProgressBar(int percent, int width) {
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    int filled = percent * width / 100;
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '-') + "]";
}

ProgressView::ProgressView(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

void ProgressView::Update(const ProgressFigures& figures, bool force) {
    auto now = std::chrono::steady_clock::now();
    auto period = terminal_ ? std::chrono::steady_clock::duration(kTerminalPeriod)
                            : std::chrono::steady_clock::duration(kPlainPeriod);
    if (!force && shownOnce_ && now - last_ < period) return;
    std::string text = ProgressText(figures);
    if (terminal_) {
        std::string bar =
            ProgressBar(BlocksDonePercent(figures.blocksDone, figures.totalBlocks), kBarWidth);
        // \033[K clears what a longer previous line left behind.
        std::fprintf(out_, "\r%s %s\033[K", bar.c_str(), text.c_str());
        lineOpen_ = true;
    } else {
        if (shownOnce_ && text == lastText_ && !force) return;
        std::fprintf(out_, "progress: %s\n", text.c_str());
    }
    std::fflush(out_);
    lastText_ = text;
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
