#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/shared/cli_options.h"
#include "cli/shared/command_echo.h"
#include "cli/shared/command_record.h"
#include "cli/shared/held_stick.h"
#include "cli/shared/host_devices.h"
#include "cli/shared/output_file.h"
#include "reader/scsi_port.h"
#include "sim/sim_bus.h"
#include "sim/sim_port.h"
#include "sim/sim_state.h"

// Where the commands find the reader: this machine's own devices (HostDevices: SG_IO on Linux,
// ASPI or pass-through on Windows), or the drives of a simulated machine (--simulate). --device
// narrows the places down to the one named. A simulated machine's first stick outlives the process
// when BREVANT_SIM_STATE names a file (as for the simulator's WNASPI32.DLL): it is loaded from it
// and kept in it while the run goes.
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
    // The nodes that could not be opened because another program holds them.
    std::vector<std::string> BusyNodes() const;

    // Keeps the stick at a place for a run (HeldStick); `claim` receives it. A simulated stick
    // needs none: nothing else on the machine reaches it. False with the reason (and `busy` when
    // something else holds it) when it cannot be had.
    bool Claim(std::uint32_t place, HeldStick::Scope scope, std::unique_ptr<HeldStick>* claim,
               std::string* reason, bool* busy);

    // What the system knows of the stick at a place besides its INQUIRY reply: the USB serial
    // number it announced, and the USB port it is plugged into ("1-1.2"; for a simulated stick,
    // its node). Empty when unknown.
    std::string UsbSerial(std::uint32_t place);
    std::string UsbPort(std::uint32_t place);
    // The same for a node the machine's walk could not open (BusyNodes).
    std::string UsbSerialOfNode(const std::string& node);
    std::string UsbPortOfNode(const std::string& node);
    // Whether the system has the stick at a node read-only: 1, 0, or -1 when it does not say.
    int ReadOnlyFlag(const std::string& node);
    // What uses the stick at a node (mounts, swap, volumes): always nothing on a simulated one.
    std::vector<std::string> Users(const std::string& node);
    // Whether the reader's own commands may go through the node. False with the reason.
    bool MayCarryVendorCommands(const std::string& node, std::string* reason);
    // The stick a --device argument leads to, as the machine's own walk names its node: the
    // simulator's "sim:s01" for "sim:E" of the same unit; on Linux the generic node /dev/sg2 for
    // the disk /dev/sdb of the same device, or for a link to either. False with a reason when
    // the argument leads to no node.
    bool StickNode(const std::string& argument, std::string* node, std::string* error);

    // A simulated stick plugged out and in again (its reader power-cycled), and the size its
    // disk has then. False when the place is not a simulated reader's.
    bool SimulatedReplug(std::uint32_t place, std::uint64_t* sectors);

    // The simulated machine's exports the options ask for (image, pages, trace). True when
    // every one was written.
    bool WriteExports(const CliOptions& options, std::string* error);

  private:
    Machine() = default;
    static std::unique_ptr<Machine> Build(const CliOptions& options, std::string* error,
                                          int* exitCode);
    // Puts the echo of every command in front of the port when -vv asks for it.
    void EchoCommandsIfAsked(const CliOptions& options);
    // Opens --trace's file as every output is opened, as a stream its writer closes; nullptr
    // with the reason.
    std::FILE* OpenTraceStream(const std::string& path, std::string* error);

    std::unique_ptr<sim::SimBus> bus_;
    std::unique_ptr<sim::SimPort> simPort_;
    std::unique_ptr<ScsiPort> statePort_;  // the simulator's port keeping the stick's state file
    std::unique_ptr<HostDevices> host_;
    std::unique_ptr<CommandRecordPort> recordPort_;  // --trace on real devices: what was sent
    std::unique_ptr<CommandEchoPort> echoPort_;      // -vv: every command's outcome on stderr
    OutputFile traceFile_;                           // --trace: the stream's file, until the end
    std::vector<std::uint32_t> places_;
};
