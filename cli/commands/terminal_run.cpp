#include "cli/commands/terminal_run.h"

#include "cli/shared/messages.h"
#include "cli/shared/monotonic_clock.h"
#include "cli/shared/prompt.h"
#include "cli/shared/stop_signals.h"
#include "core/string_table.h"

namespace {

double SecondsSince(double start) { return MonotonicSeconds() - start; }

}  // namespace

TerminalRun::TerminalRun(const FormatSettings& settings, FormatLog& log, std::FILE* out,
                         bool terminal, bool quiet, DamagedAnswer damaged, PageKeeper keepPages)
    : settings_(settings),
      log_(log),
      out_(out),
      view_(out, terminal, quiet),
      damaged_(damaged),
      keepPages_(std::move(keepPages)) {
    started_ = MonotonicSeconds();
}

void TerminalRun::NotePhase(const char* phase) {
    if (detail_ != nullptr && std::string(phase) != phase_) {
        view_.Break();
        Note(detail_, std::string("phase: ") + phase);
    }
    phase_ = phase;
    if (!stopRequested_) view_.Update(Figures(), true);
    events_.Progress(Figures(), true);
}

double TerminalRun::ElapsedSeconds() const { return SecondsSince(started_); }

bool TerminalRun::KeepOldPages(const CisBackup& pages, std::string* reason) {
    if (!keepPages_) return true;
    if (!keepPages_(pages, &backupFile_, reason)) {
        keepFailure_ = *reason;
        return false;
    }
    events_.Backup(backupFile_);
    if (quiet_) return true;
    view_.Break();
    Complain(std::string("the old CIS page") +
             (pages.vendorPage >= 0 ? " and vendor page are" : " is") + " kept in " + backupFile_ +
             " (--backup-dir DIR keeps them elsewhere)");
    return true;
}

ProgressFigures TerminalRun::Figures() const {
    ProgressFigures figures;
    figures.blocksDone = blocksDone_;
    figures.totalBlocks = totalBlocks_;
    figures.badBlocks = badBlocks_;
    figures.elapsedSeconds = SecondsSince(started_);
    figures.phase = phase_;
    return figures;
}

void TerminalRun::PumpOneMessage() {
    int signals = StopSignalCount();
    if (signals != signalsSeen_) {
        signalsSeen_ = signals;
        if (!stopRequested_) {
            stopRequested_ = true;
            stoppedBySignal_ = true;
            view_.Break();
            std::fprintf(out_, "Stopping at the next block...\n");
            std::fflush(out_);
        }
        return;
    }
    if (!stopRequested_) view_.Update(Figures());
    events_.Progress(Figures());
}

void TerminalRun::ResetProgress() {
    position_ = 0;
    totalBlocks_ = 0;
    blocksDone_ = 0;
    percentText_.clear();
}

void TerminalRun::ShowFinalProgress() { view_.Update(Figures(), true); }

BoxAnswer TerminalRun::MessageBox(const std::string& text, const std::string& /*caption*/,
                                  BoxButtons buttons) {
    view_.Break();
    if (buttons == BoxButtons::AbortRetryIgnore) {
        // The one question of a run: a bad block whose mark does not hold.
        const char* question =
            "A bad block does not keep its bad-block mark: the stick is damaged and may lose "
            "data.\n  Abort: stop and put the old CIS page back; Retry: go on and ask again; "
            "Ignore: go on without asking.\n";
        if (damaged_ == DamagedAnswer::Abort || damaged_ == DamagedAnswer::Continue ||
            !InputIsTerminal()) {
            const bool go = damaged_ == DamagedAnswer::Continue;
            Complain(std::string("a bad block does not keep its bad-block mark: ") +
                     (go ? "going on (--on-damaged continue)" : "stopping (--on-damaged abort)"));
            return go ? BoxAnswer::Ignore : BoxAnswer::Abort;
        }
        BoxAnswer answer = AskAbortRetryIgnore(out_, question, signalsSeen_);
        // A stop signal that arrived while waiting was the answer; it asks for no stop besides.
        signalsSeen_ = StopSignalCount();
        return answer;
    }
    // The engine's other boxes tell of a failure; the summary says what it means.
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
    for (char& c : line) c = c == '\n' ? ' ' : c;
    Complain("the stick says: " + line);
    return buttons == BoxButtons::OkCancel ? BoxAnswer::Cancel : BoxAnswer::Ok;
}

std::string TerminalRun::Title() { return AppString(IDS_TITLE); }
