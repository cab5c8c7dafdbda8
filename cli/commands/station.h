#pragma once
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/commands/worker_pool.h"
#include "cli/output/station_stick.h"
#include "cli/shared/cli_options.h"
#include "cli/shared/device_identity.h"

// A shop's station: many sticks formatted at once, each by a worker process of its own (one
// `brevant format --device NODE --progress json` each, whose events the parent reads; the
// processes are the platform's, WorkerPool). The engine
// could run every stick in one process (each reader is an object of its own, and readers share
// nothing); a process per stick is chosen because a stick can hang a command in the kernel for
// as long as it likes, and a worker that waits there, or crashes, holds up or hurts no other
// stick: the parent keeps following the rest, and Stop still reaches each of them.

class RunHistory;

class Station {
  public:
    // The options of the parent's command: what each worker is told; the settings file the
    // parent checked (empty: none), which every worker is given by name.
    Station(const CliOptions& options, const std::string& settingsPath);

    // Starts a worker for the stick. False with the reason when it cannot be started.
    bool Start(StationStick* stick, std::string* error);
    // Waits up to `milliseconds` for news of the workers (status lines, ends), and takes it in.
    // A descriptor `wake` (Linux; -1: none) that becomes readable ends the wait too; it is not
    // read.
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
    WorkerPool workers_;
    std::set<std::string> namesTaken_;
};

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
