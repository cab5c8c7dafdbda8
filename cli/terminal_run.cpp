#include "cli/terminal_run.h"

#include "cli/prompt.h"
#include "cli/stop_signals.h"
#include "core/string_table.h"

namespace {

// How often the pump asks whether the disk is still there: one TEST UNIT READY per this many
// blocks costs nothing next to the several commands each block takes.
constexpr std::uint32_t kPresenceCheckInterval = 64;

double SecondsSince(const std::timespec& start) {
    std::timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - start.tv_sec) +
           static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

}  // namespace

TerminalRun::TerminalRun(const FormatSettings& settings, FormatLog& log, std::FILE* out,
                         bool terminal, std::function<bool()> isPresent)
    : settings_(settings),
      log_(log),
      out_(out),
      view_(out, terminal),
      isPresent_(std::move(isPresent)) {
    clock_gettime(CLOCK_MONOTONIC, &started_);
}

ProgressFigures TerminalRun::Figures() const {
    ProgressFigures figures;
    figures.blocksDone = blocksDone_;
    figures.totalBlocks = totalBlocks_;
    figures.badBlocks = badBlocks_;
    figures.elapsedSeconds = SecondsSince(started_);
    return figures;
}

void TerminalRun::PumpOneMessage() {
    ++pumps_;
    int signals = StopSignalCount();
    if (signals != signalsSeen_) {
        signalsSeen_ = signals;
        if (!stopRequested_)
            Stop(&stoppedBySignal_, "Stopping: the old CIS and vendor pages are written back...");
        return;
    }
    if (!stopRequested_ && isPresent_ && pumps_ % kPresenceCheckInterval == 0 && !isPresent_()) {
        Stop(&diskRemoved_, "The disk is gone: stopping.");
        return;
    }
    if (!stopRequested_) view_.Update(Figures());
}

void TerminalRun::Stop(bool* cause, const char* text) {
    stopRequested_ = true;
    *cause = true;
    view_.Break();
    std::fprintf(out_, "%s\n", text);
    std::fflush(out_);
}

void TerminalRun::ResetProgress() {
    position_ = 0;
    totalBlocks_ = 0;
    blocksDone_ = 0;
    percentText_.clear();
}

void TerminalRun::ShowFinalProgress() { view_.Update(Figures(), true); }

BoxAnswer TerminalRun::MessageBox(const std::string& text, const std::string& caption,
                                  BoxButtons buttons) {
    view_.Break();
    if (buttons == BoxButtons::AbortRetryIgnore) {
        if (!InputIsTerminal()) {
            std::fprintf(out_, "%s: %s(no terminal to answer on: Abort)\n", caption.c_str(),
                         text.c_str());
            std::fflush(out_);
            return BoxAnswer::Abort;
        }
        std::fprintf(out_, "%s:\n", caption.c_str());
        BoxAnswer answer = AskAbortRetryIgnore(out_, text, signalsSeen_);
        // A stop signal that arrived while waiting was the answer; it asks for no stop besides.
        signalsSeen_ = StopSignalCount();
        return answer;
    }
    std::fprintf(out_, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(out_);
    return buttons == BoxButtons::OkCancel ? BoxAnswer::Cancel : BoxAnswer::Ok;
}

std::string TerminalRun::Title() { return AppString(IDS_TITLE); }
