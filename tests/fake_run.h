#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/format_log.h"
#include "core/format_settings.h"
#include "format/run_interface.h"

// A front end for the format engine in tests: it records every message box and answers them
// from a script, counts the pumped messages, can ask for Stop once a given block was entered,
// and holds the run's log (always on) and settings.
class FakeRun : public RunInterface {
  public:
    struct Box {
        std::string text;
        std::string caption;
        BoxButtons buttons;
    };

    FakeRun() { log.Open(1, "/dev/null"); }

    // Stop is reported after the pump of the block that makes BlocksDone() reach this count.
    void StopWhenBlocksDone(std::uint32_t blocksDone) { stopAt_ = blocksDone; }
    // Answers of the coming Abort/Retry/Ignore boxes, in order; Retry once they run out.
    void AnswerBoxes(std::vector<BoxAnswer> answers) {
        answers_.assign(answers.begin(), answers.end());
    }

    void PumpOneMessage() override {
        ++pumps;
        if (onPump) onPump(blocksDone_);
    }
    bool StopRequested() override {
        ++stopChecks;
        return stopAt_ != 0 && blocksDone_ >= stopAt_;
    }
    void ResetProgress() override {
        ++progressResets;
        totalBlocks_ = 0;
        blocksDone_ = 0;
        progress = 0;
    }
    void SetProgressPosition(int position) override { progress = position; }
    std::uint32_t& TotalBlocks() override { return totalBlocks_; }
    std::uint32_t& BlocksDone() override { return blocksDone_; }
    void NoteBadBlocks(std::uint32_t badSoFar) override { lastBadCount = badSoFar; }
    void SetRunMessage(const std::string& text) override { runMessage = text; }
    void ShowPercentText(const std::string& text) override { percentText = text; }
    BoxAnswer MessageBox(const std::string& text, const std::string& caption,
                         BoxButtons buttons) override {
        boxes.push_back({text, caption, buttons});
        if (buttons != BoxButtons::AbortRetryIgnore) return BoxAnswer::Ok;
        if (answers_.empty()) return BoxAnswer::Retry;
        const BoxAnswer answer = answers_.front();
        answers_.pop_front();
        return answer;
    }
    std::string Title() override { return "Brevant Utility"; }
    std::string ApplicationName() override { return "Brevant"; }
    FormatLog& Log() override { return log; }
    const FormatSettings& Settings() override { return settings; }
    bool KeepOldPages(const CisBackup& pages, std::string* reason) override {
        kept.push_back(pages);
        if (!keepRefusal.empty()) *reason = keepRefusal;
        return keepRefusal.empty();
    }
    bool EndsRunOnRemoval() const override { return endsRunOnRemoval; }
    void NoteRunRecord(const RunRecord& r) override {
        record = r;
        ++records;
    }

    std::string LogText() const { return log.Text() ? std::string(log.Text(), log.Used()) : ""; }
    std::uint32_t TotalBlocksValue() const { return totalBlocks_; }
    std::uint32_t BlocksDoneValue() const { return blocksDone_; }

    FormatSettings settings;
    FormatLog log;
    std::vector<Box> boxes;
    std::string runMessage;
    std::string percentText;
    int progress = -1;
    std::uint32_t pumps = 0;
    std::uint32_t stopChecks = 0;
    std::uint32_t progressResets = 0;
    std::uint32_t lastBadCount = 0;
    std::vector<CisBackup> kept;  // the old pages offered before the scan
    std::string keepRefusal;      // when set, keeping them fails with this reason
    bool endsRunOnRemoval = true;
    RunRecord record;  // what the engine handed over at its end
    int records = 0;
    // Runs inside every pump with the blocks entered so far: lets a test change the disk mid-run.
    std::function<void(std::uint32_t)> onPump;

  private:
    std::uint32_t totalBlocks_ = 0;
    std::uint32_t blocksDone_ = 0;
    std::uint32_t stopAt_ = 0;
    std::deque<BoxAnswer> answers_;
};
