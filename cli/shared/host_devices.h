#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/shared/cli_options.h"
#include "cli/shared/held_stick.h"
#include "reader/scsi_port.h"

// The real devices of this machine, as its system lets the command line reach them: on Linux the
// SCSI generic nodes over SG_IO, with what sysfs tells of them (host_devices_linux.cpp); on
// Windows ASPI for Win32 when WNASPI32.DLL loads, else the SCSI pass-through requests on the
// drive letters (host_devices_win32.cpp). Everything above works on the port and the node names.
class HostDevices {
  public:
    virtual ~HostDevices() = default;

    // The machine's devices as the options narrow them down (--device); nullptr with the reason
    // and the exit code to end with when they cannot be reached at all.
    static std::unique_ptr<HostDevices> Open(const CliOptions& options, std::string* error,
                                             int* exitCode);

    virtual ScsiPort& Port() = 0;
    // The places of Port() to look at (the one --device names, when it names one).
    virtual std::vector<std::uint32_t> Places() const = 0;
    // How many nodes could not be opened for lack of rights.
    virtual int PermissionDenials() const = 0;
    // The nodes that could not be opened because another program holds them.
    virtual std::vector<std::string> BusyNodes() const = 0;
    // Keeps the stick at a place of Port() from the rest of the machine for a run (HeldStick).
    // False with the reason (`busy` when something else holds it) when it cannot be had. True
    // with `reason` set when there was nothing to hold it by (`held` then stays empty).
    virtual bool Hold(std::uint32_t place, HeldStick::Scope scope, std::unique_ptr<HeldStick>* held,
                      std::string* reason, bool* busy) = 0;
    // What the system says of the stick at a node besides its INQUIRY reply: its USB serial
    // number and the USB port it is in ("1-1.2"); empty when unknown.
    virtual std::string UsbSerial(const std::string& node) = 0;
    virtual std::string UsbPort(const std::string& node) = 0;
    // The node a --device argument leads to, named as Port() names it. False with the reason.
    virtual bool StickNode(const std::string& argument, std::string* node, std::string* error) = 0;
    // What uses the stick at the node (mounts, swap, volumes); empty when nothing does, or when
    // the system only tells when the stick is held.
    virtual std::vector<std::string> Users(const std::string& node) = 0;
    // Whether the system has the stick at the node read-only: 1, 0, or -1 when it does not say.
    virtual int ReadOnlyFlag(const std::string& node) = 0;
    // Whether the reader's own commands may go through the node. False with the reason.
    virtual bool MayCarryVendorCommands(const std::string& node, std::string* reason) = 0;
};
