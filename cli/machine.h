#pragma once
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "reader/sgio.h"
#include "sim/sim_bus.h"

class SimSgDevice;

// Where the commands find the reader: the SCSI nodes of this machine, or the nodes of a
// simulated machine (--simulate). --device narrows the nodes down to the one named.
class Machine {
  public:
    ~Machine();

    // Sets the machine up from the options. On failure returns nullptr, a message and the exit
    // code to end with.
    static std::unique_ptr<Machine> Open(const CliOptions& options, std::string* error,
                                         int* exitCode);

    SgDeviceIo& Io();
    const std::vector<std::string>& Nodes() const { return nodes_; }
    bool Simulated() const { return bus_ != nullptr; }
    sim::SimBus* Bus() { return bus_.get(); }

    // The simulated machine's exports the options ask for (image, pages, trace). True when
    // every one was written.
    bool WriteExports(const CliOptions& options, std::string* error);

  private:
    Machine() = default;

    std::unique_ptr<sim::SimBus> bus_;
    std::unique_ptr<SimSgDevice> simDevice_;
    std::vector<std::string> nodes_;
};

// The node a --device argument names, resolved (symbolic links such as /dev/disk/by-id/...
// followed). False with a reason when it is not a SCSI generic node or a whole SCSI disk.
bool ResolveDeviceNode(const std::string& argument, std::string* node, std::string* error);
