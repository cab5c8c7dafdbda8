#pragma once
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

#include "cli/progress_view.h"
#include "core/format_log.h"
#include "core/format_settings.h"
#include "format/run_interface.h"

// The format engine's front end on a terminal: the per-block pump watches for stop signals and
// for the disk being pulled, draws the progress, and the engine's message boxes become text and
// questions.
class TerminalRun final : public RunInterface {
  public:
    // isPresent is asked now and then during the run whether the disk is still there; a false
    // answer stops the run as a device removal does in the dialog.
    TerminalRun(const FormatSettings& settings, FormatLog& log, std::FILE* out, bool terminal,
                std::function<bool()> isPresent);

    void PumpOneMessage() override;
    bool StopRequested() override { return stopRequested_; }
    void ResetProgress() override;
    void SetProgressPosition(int position) override { position_ = position; }
    std::uint32_t& TotalBlocks() override { return totalBlocks_; }
    std::uint32_t& BlocksDone() override { return blocksDone_; }
    void NoteBadBlocks(std::uint32_t badSoFar) override { badBlocks_ = badSoFar; }
    void SetRunMessage(const std::string& text) override { runMessage_ = text; }
    void ShowPercentText(const std::string& text) override { percentText_ = text; }
    BoxAnswer MessageBox(const std::string& text, const std::string& caption,
                         BoxButtons buttons) override;
    std::string Title() override;
    std::string ApplicationName() override { return "brevant"; }
    FormatLog& Log() override { return log_; }
    const FormatSettings& Settings() override { return settings_; }

    // Shows the figures once more, whatever the time (the end of the run).
    void ShowFinalProgress();
    void EndProgressLine() { view_.Break(); }

    const std::string& RunMessage() const { return runMessage_; }
    std::uint32_t BadBlocks() const { return badBlocks_; }
    int ProgressPosition() const { return position_; }
    bool StoppedBySignal() const { return stoppedBySignal_; }
    bool DiskRemoved() const { return diskRemoved_; }

  private:
    ProgressFigures Figures() const;
    // Asks the engine to stop, notes why (cause) and says so on its own line.
    void Stop(bool* cause, const char* text);

    const FormatSettings& settings_;
    FormatLog& log_;
    std::FILE* out_;
    ProgressView view_;
    std::function<bool()> isPresent_;
    std::timespec started_{};

    bool stopRequested_ = false;
    bool stoppedBySignal_ = false;
    bool diskRemoved_ = false;
    int signalsSeen_ = 0;
    std::uint32_t pumps_ = 0;
    std::uint32_t totalBlocks_ = 0;
    std::uint32_t blocksDone_ = 0;
    std::uint32_t badBlocks_ = 0;
    int position_ = 0;
    std::string runMessage_;
    std::string percentText_;
};
