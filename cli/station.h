#pragma once
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/progress_stream.h"
#include "cli/run_report.h"

// A shop's station: many sticks formatted at once, each by a worker process of its own (one
// `brevant format --device NODE --progress json` each, whose events the parent reads). The
// format engine keeps its state per process by design, and a stick that hangs or a worker that
// crashes cannot hold up or hurt the others.

class RunHistory;

struct StationStick {
    DeviceIdentity identity;
    std::uint32_t place = 0;  // the machine port's place of its node
    std::string sizeText;     // its size before, as the confirmation names it
    std::string counterfeit;  // "counterfeit: announces ..., its flash holds ...", or empty
    std::optional<std::uint32_t> previousBad;  // bad blocks at its last whole run (history)
    std::string fileName;  // its files' name, unique in the session (StickFileName, -2, -3...)
    pid_t pid = -1;
    int statusFd = -1;
    std::string pending;  // a status line not yet whole
    int wordsFd = -1;     // the worker's standard error
    std::string wordsPending;
    std::vector<std::string> words;  // the last lines the worker wrote on it
    WorkerStatus status;
    bool exited = false;
    int exitCode = -1;
    long peakKiB = 0;  // the worker's peak memory
    double started = 0;
    double seconds = 0;
    std::string reportFile;
};

class Station {
  public:
    // The options of the parent's command: what each worker is told; the settings file the
    // parent checked (empty: none), which every worker is given by name.
    Station(const CliOptions& options, const std::string& settingsPath);

    // Starts a worker for the stick. False with the reason when it cannot be started.
    bool Start(StationStick* stick, std::string* error);
    // Waits up to `milliseconds` for news of the workers (status lines, ends), and takes it in.
    // A descriptor `wake` (-1: none) that becomes readable ends the wait too; it is not read.
    void Follow(std::vector<StationStick>& sticks, int milliseconds, int wake = -1);
    // Passes a stop on to every worker still running (as Stop does: each puts its old pages back).
    void StopAll(std::vector<StationStick>& sticks);

  private:
    std::vector<std::string> WorkerArguments(const StationStick& stick) const;
    // A name for the stick's files that no other stick of the session has: sticks of one batch
    // may share a serial number.
    std::string UniqueFileName(const DeviceIdentity& identity);
    const CliOptions& options_;
    std::string settingsPath_;
    std::string program_;
    std::set<std::string> namesTaken_;
};

// Whether everything the stick's worker said has been read: it has ended and its pipes are at
// their end. Until then its last lines may still be on their way.
bool WorkerHeard(const StationStick& stick);

// One line per stick for a terminal `width` columns wide (or a plain line): node, progress,
// phase, bad blocks, or the result once ended.
std::string StickLine(const StationStick& stick, int width);

// The table at the end: stick, result, bad blocks now and at its last run, capacity after,
// verdict, time; under a stick's row, the worker's last words, a counterfeit's sizes, the
// blocks a run that did not complete erased and, when its old pages could not be written back,
// the file that holds them and the command that puts them back.
std::string StationTable(const std::vector<StationStick>& sticks);

// Every line a worker wrote on its standard error, each after the program's name and the
// stick's node ("brevant: sim:s3: ..."), stick by stick.
std::string WorkersWords(const std::vector<StationStick>& sticks);

// The exit status of a station: 0 when every stick completed; else 1 when one failed (or was
// pulled, or stopped answering), else 4 when one was write-protected or not ready, else 3 when
// one was stopped, else 5 when one completed over blocks whose mark did not hold, else 7 when
// one was retired by --retire-above.
int StationExitCode(const std::vector<StationStick>& sticks);

// "sg3" for "/dev/sg3", "sim_E" for "sim:E": a name for the stick's files; the serial when known.
std::string StickFileName(const DeviceIdentity& identity);

class Machine;

// The flash disks of the machine (each node discovered on its own), with what is known of each:
// node, vendor, product, revision, serial and size. `skip` names nodes not to be looked at (a
// worker is busy there). False when the transport cannot start.
bool FindSticks(Machine& machine, const std::vector<std::string>& skip,
                std::vector<StationStick>* sticks);

// A closer look at a stick FindSticks found, before it is formatted: a stick that announces more
// than its flash can hold (a few reading commands), and its bad blocks at its last whole run.
void LookCloser(Machine& machine, RunHistory& history, StationStick* stick);
