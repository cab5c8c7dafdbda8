#pragma once
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

#include "cli/output/progress_stream.h"
#include "cli/output/progress_view.h"
#include "core/format_log.h"
#include "core/format_settings.h"
#include "format/run_interface.h"

// What the damaged-media question gets when nobody is there to answer it (--yes, or no
// terminal): stop and put the old pages back, or go on without asking again.
enum class DamagedAnswer { Ask, Abort, Continue };

// The format engine's front end on a terminal: the per-block pump watches for stop signals and
// draws the progress, the engine's message boxes become text and questions, the old pages are
// kept in a file before the scan and the run's record is kept for the summary and the report.
class TerminalRun final : public RunInterface {
  public:
    // keepPages writes the old pages somewhere safe and returns where (false with a reason).
    using PageKeeper = std::function<bool(const CisBackup&, std::string* where, std::string*)>;

    // quiet: no progress at all.
    TerminalRun(const FormatSettings& settings, FormatLog& log, std::FILE* out, bool terminal,
                bool quiet, DamagedAnswer damaged, PageKeeper keepPages);

    void PumpOneMessage() override;
    bool StopRequested() override { return stopRequested_; }
    void ResetProgress() override;
    void SetProgressPosition(int position) override { position_ = position; }
    std::uint32_t& TotalBlocks() override { return totalBlocks_; }
    std::uint32_t& BlocksDone() override { return blocksDone_; }
    void NoteBadBlocks(std::uint32_t badSoFar) override { badBlocks_ = badSoFar; }
    void NotePhase(const char* phase) override;
    void SetRunMessage(const std::string& text) override { runMessage_ = text; }
    void ShowPercentText(const std::string& text) override { percentText_ = text; }
    BoxAnswer MessageBox(const std::string& text, const std::string& caption,
                         BoxButtons buttons) override;
    std::string Title() override;
    std::string ApplicationName() override { return "brevant"; }
    FormatLog& Log() override { return log_; }
    const FormatSettings& Settings() override { return settings_; }
    bool KeepOldPages(const CisBackup& pages, std::string* reason) override;
    void NoteRunRecord(const RunRecord& record) override { record_ = record; }
    FatLabel VolumeLabel() override { return label_; }

    // --progress json: the progress also goes out as events (see progress_stream.h).
    void SetEventsOut(std::FILE* events) { events_ = ProgressEvents(events); }
    void SetLabel(const FatLabel& label) { label_ = label; }
    // -q: the file the old pages are kept in is not told (the report and the events have it).
    void SetQuiet() { quiet_ = true; }
    // -v: each phase as it begins, on a line of its own.
    void SetDetailOut(std::FILE* detail) { detail_ = detail; }

    // Shows the figures once more, whatever the time (the end of the run).
    void ShowFinalProgress();
    void EndProgressLine() { view_.Break(); }

    const std::string& RunMessage() const { return runMessage_; }
    std::uint32_t BadBlocks() const { return badBlocks_; }
    bool StoppedBySignal() const { return stoppedBySignal_; }
    const RunRecord& Record() const { return record_; }
    // Where the old pages were kept; empty when there were none.
    const std::string& BackupFile() const { return backupFile_; }
    // Why the old pages could not be kept (the run then erased nothing); empty when they were.
    const std::string& KeepFailure() const { return keepFailure_; }
    double ElapsedSeconds() const;

  private:
    ProgressFigures Figures() const;

    const FormatSettings& settings_;
    FormatLog& log_;
    std::FILE* out_;
    ProgressView view_;
    DamagedAnswer damaged_;
    PageKeeper keepPages_;
    double started_ = 0;  // on the monotonic clock

    bool stopRequested_ = false;
    bool stoppedBySignal_ = false;
    int signalsSeen_ = 0;
    std::uint32_t totalBlocks_ = 0;
    std::uint32_t blocksDone_ = 0;
    std::uint32_t badBlocks_ = 0;
    int position_ = 0;
    std::string runMessage_;
    std::string percentText_;
    std::string backupFile_;
    std::string keepFailure_;
    const char* phase_ = "preparing";
    ProgressEvents events_;
    std::FILE* detail_ = nullptr;
    FatLabel label_ = NoNameLabel();
    bool quiet_ = false;
    RunRecord record_;
};
