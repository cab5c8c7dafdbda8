#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/run_report.h"
#include "cli/worker_status.h"

// A shop's station: many sticks formatted at once, each by a worker process of its own (one
// `brevant format --device NODE` each). The format engine keeps its state per process by
// design, and a stick that hangs or a worker that crashes cannot hold up or hurt the others.

struct StationStick {
    DeviceIdentity identity;
    std::string sizeText;  // its size before, as the confirmation names it
    pid_t pid = -1;
    int statusFd = -1;
    std::string pending;  // a status line not yet whole
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
    // The options of the parent's command: what each worker is told.
    explicit Station(const CliOptions& options);

    // Starts a worker for the stick. False with the reason when it cannot be started.
    bool Start(StationStick* stick, std::string* error);
    // Waits up to `milliseconds` for news of the workers (status lines, ends), and takes it in.
    void Follow(std::vector<StationStick>& sticks, int milliseconds);
    // Passes a stop on to every worker still running (as Stop does: each puts its old pages back).
    void StopAll(std::vector<StationStick>& sticks);

  private:
    std::vector<std::string> WorkerArguments(const StationStick& stick) const;
    const CliOptions& options_;
    std::string program_;
};

// One line per stick for a terminal `width` columns wide (or a plain line): node, progress,
// phase, bad blocks, or the result once ended.
std::string StickLine(const StationStick& stick, int width);

// The table at the end: stick, result, bad blocks, capacity after, time.
std::string StationTable(const std::vector<StationStick>& sticks);

// The exit status of a station: 0 when every stick completed; else 1 when one failed (or was
// pulled, or stopped answering), else 4 when one was write-protected or not ready, else 3 when
// one was stopped, else 5 when one completed over blocks whose mark did not hold.
int StationExitCode(const std::vector<StationStick>& sticks);

// "sg3" for "/dev/sg3", "sim_E" for "sim:E": a name for the stick's files; the serial when known.
std::string StickFileName(const DeviceIdentity& identity);

class Machine;

// The flash disks of the machine (each node discovered on its own), with what is known of each:
// node, vendor, product, revision, serial and size. `skip` names nodes not to be looked at (a
// worker is busy there). False when the transport cannot start.
bool FindSticks(Machine& machine, const std::vector<std::string>& skip,
                std::vector<StationStick>* sticks);
