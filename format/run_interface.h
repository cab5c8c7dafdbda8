#pragma once
#include <cstdint>
#include <string>

#include "core/format_log.h"
#include "core/format_settings.h"
#include "core/message_box.h"

// Everything the format engine needs from the front end that runs it (the dialog, the command
// line, a test). The engine touches the front end through nothing else.
class RunInterface {
  public:
    virtual ~RunInterface() = default;

    // Hands at most one pending front-end event (a window message, a signal, a timer tick) to
    // its handler. Called once per block.
    virtual void PumpOneMessage() = 0;
    // Non-zero once Stop was asked for (or no run is in progress); read after every pump.
    virtual bool StopRequested() = 0;

    // Progress bar to 0, both counters to 0, percentage text cleared.
    virtual void ResetProgress() = 0;
    virtual void SetProgressPosition(int position) = 0;  // 0..100
    // The progress counters: total blocks of all banks, blocks the scan has entered.
    virtual std::uint32_t& TotalBlocks() = 0;
    virtual std::uint32_t& BlocksDone() = 0;
    // The front end's progress timer, alive only while the engine runs (the dialog's timer 1,
    // which turns the counters into the percentage). Front ends that draw progress otherwise
    // leave these empty.
    virtual void StartProgressTimer() {}
    virtual void StopProgressTimer() {}
    // Bad blocks counted so far in this run; only front ends that show it care.
    virtual void NoteBadBlocks(std::uint32_t /*badSoFar*/) {}

    // The message the run leaves for the final status.
    virtual void SetRunMessage(const std::string& text) = 0;
    // Puts text into the percentage label (and the status string that backs it).
    virtual void ShowPercentText(const std::string& text) = 0;

    // A modal message box; the answer for a plain OK box is Ok.
    virtual BoxAnswer MessageBox(const std::string& text, const std::string& caption,
                                 BoxButtons buttons) = 0;
    virtual std::string Title() = 0;            // caption of the run's message boxes
    virtual std::string ApplicationName() = 0;  // the executable's name without extension

    virtual FormatLog& Log() = 0;
    virtual const FormatSettings& Settings() = 0;
};
