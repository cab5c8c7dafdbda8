#pragma once
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/sim_command.h"
#include "sim/sim_mutex.h"

// The trace of a machine: what every command to a device came to, one line per command.

namespace sim {

// One command as the trace keeps it.
struct TraceEntry {
    std::string device;    // "reader 0 lun 1", "foreign C", ...
    std::uint8_t cdb[12];  // the command bytes as received
    Direction direction;
    std::uint32_t length;  // data phase length as requested
    Outcome outcome;
};

// Where the trace of a machine goes: nowhere unless asked. Kept in memory for tests that look at
// the entries, and/or streamed to a file one line per command as they come (no memory grows).
class TraceRecorder {
  public:
    TraceRecorder() = default;
    ~TraceRecorder();
    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;

    // Whether anything is recorded at all.
    bool Active() const { return active_.load(std::memory_order_relaxed); }
    void Record(const UnitCommand& command, Outcome outcome);

    void Keep(bool keep);
    const std::vector<TraceEntry>& Entries() const { return entries_; }
    void Clear();

    // Starts writing the lines to a new file at `path` (an earlier stream is ended first). False
    // with a reason when the file cannot be created. With eachLine every line reaches the file
    // as its command completes, before the outcome goes back to the host, so that a reader of
    // the file sees every command a host has had an answer to; else the lines are buffered.
    bool StreamTo(const std::string& path, std::string* error, bool eachLine = false);
    // The same into a stream the caller opened; the recorder closes it when the stream ends.
    void StreamTo(std::FILE* file, bool eachLine = false);
    // A line of the face's own between the commands (a USB reset, a refused command block); it
    // goes only to the stream.
    void Note(const std::string& line);
    // Flushes and closes the stream; true when every line reached the file (also when there was
    // no stream).
    bool EndStream();

  private:
    void UpdateActive();
    void WriteLine(const std::string& text);  // with the mutex held and a stream open

    SimMutex mutex_;
    std::atomic<bool> active_{false};
    bool keep_ = false;
    std::vector<TraceEntry> entries_;
    std::FILE* stream_ = nullptr;
    bool streamEachLine_ = false;
    bool streamFailed_ = false;
};

// One trace line: "reader 0 lun 0: E8 20 60 00 00 01 00 00 00 00 00 00 in 528 good".
std::string FormatTraceLine(const TraceEntry& entry);

// Records every command that comes through, with its outcome, when the recorder is active.
class TraceDecorator final : public CommandDecorator {
  public:
    TraceDecorator(CommandTarget& next, TraceRecorder& recorder)
        : CommandDecorator(next), recorder_(recorder) {}
    Outcome Execute(const UnitCommand& command) override;

  private:
    TraceRecorder& recorder_;
};

// The name a unit has in the trace: "<device name> lun <n>" for readers, the device's name for
// foreign drives.
std::string TraceUnitName(const SimDevice& device, std::uint8_t lun);

}  // namespace sim
