#pragma once
#include <cstdint>
#include <string>

#include "core/format_log.h"
#include "core/format_settings.h"
#include "core/message_box.h"
#include "format/cis_backup.h"
#include "format/fat_label.h"
#include "format/run_record.h"

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
    // What the run is doing now ("scan", "CIS page and volume", "old pages back"); only front
    // ends that show it care.
    virtual void NotePhase(const char* /*phase*/) {}
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

    // The old CIS page (and vendor page) as read before the scan, offered to the front end to
    // keep outside the stick before anything is erased. False, with a reason, stops the run
    // there. Front ends that keep nothing accept.
    virtual bool KeepOldPages(const CisBackup& /*pages*/, std::string* /*reason*/) { return true; }
    // Whether the engine ends the run itself when the stick is gone (every command answered by
    // "no such device"). The dialog leaves that to the system's device notice, whose rescan stops
    // the run as Stop does.
    virtual bool EndsRunOnRemoval() const { return true; }
    // The label of the FAT volume the run lays down; "NO NAME" (no label) unless the front end
    // was given one.
    virtual FatLabel VolumeLabel() { return NoNameLabel(); }
    // What the run learnt and how it ended, handed over once as it returns.
    virtual void NoteRunRecord(const RunRecord& /*record*/) {}
};
