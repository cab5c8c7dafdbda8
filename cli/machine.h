#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/command_echo.h"
#include "cli/command_record.h"
#include "reader/scsi_port.h"
#include "reader/sgio_port.h"
#include "sim/sim_bus.h"
#include "sim/sim_port.h"
#include "sim/sim_state.h"

// Where the commands find the reader: the SCSI nodes of this machine over SG_IO, or the drives
// of a simulated machine (--simulate). --device narrows the places down to the one named. A
// simulated machine's first stick outlives the process when BREVANT_SIM_STATE names a file (as
// for the simulator's WNASPI32.DLL): it is loaded from it and kept in it while the run goes.
class Machine {
  public:
    ~Machine();

    // Sets the machine up from the options. On failure says why on standard error and returns
    // nullptr and the exit code to end with.
    static std::unique_ptr<Machine> Open(const CliOptions& options, int* exitCode);

    ScsiPort& Port();
    // The places to look at, and their node names.
    const std::vector<std::uint32_t>& Places() const { return places_; }
    std::vector<std::string> Nodes();
    bool Simulated() const { return bus_ != nullptr; }
    sim::SimBus* Bus() { return bus_.get(); }
    // How many nodes could not be opened for lack of rights.
    int PermissionDenials() const;

    // The simulated machine's exports the options ask for (image, pages, trace). True when
    // every one was written.
    bool WriteExports(const CliOptions& options, std::string* error);

  private:
    Machine() = default;
    static std::unique_ptr<Machine> Build(const CliOptions& options, std::string* error,
                                          int* exitCode);
    // Puts the echo of every command in front of the port when -vv asks for it.
    void EchoCommandsIfAsked(const CliOptions& options);

    std::unique_ptr<sim::SimBus> bus_;
    std::unique_ptr<sim::SimPort> simPort_;
    std::unique_ptr<ScsiPort> statePort_;  // the simulator's port keeping the stick's state file
    std::unique_ptr<SgioPort> sgioPort_;
    std::unique_ptr<CommandRecordPort> recordPort_;  // --trace on real devices: what was sent
    std::unique_ptr<CommandEchoPort> echoPort_;      // -vv: every command's outcome on stderr
    std::vector<std::uint32_t> places_;
};

// The node a --device argument names, resolved (symbolic links such as /dev/disk/by-id/...
// followed). False with a reason when it is not a SCSI generic node or a whole SCSI disk.
bool ResolveDeviceNode(const std::string& argument, std::string* node, std::string* error);
