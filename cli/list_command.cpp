#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/machine.h"
#include "cli/reader_session.h"
#include "cli/run_report.h"
#include "cli/run_summary.h"
#include "cli/stick_choice.h"
#include "format/disk_probe.h"
#include "reader/sgio_nodes.h"

namespace {

// What the system knows of the stick behind a node: " (serial S, USB port P)", or "".
std::string WhereFrom(const std::string& node) {
    const std::string serial = UsbSerialOfNode(node);
    const std::string port = UsbPortOfNode(node);
    std::string text;
    if (!serial.empty()) text += "serial " + serial;
    if (!port.empty()) text += (text.empty() ? "" : ", ") + std::string("USB port ") + port;
    return text.empty() ? text : " (" + text + ")";
}

constexpr const char kHeldElsewhere[] =
    "in use by another program (another brevant at work on it?)";

}  // namespace

void ReportNoReader(Machine& machine, const CliOptions& options) {
    // Sticks another program holds for a run of its own are there, and named.
    const std::vector<std::string> busy = machine.BusyNodes();
    for (const std::string& node : busy) {
        Complain(node + WhereFrom(node) + ": " + kHeldElsewhere + "; nothing was done");
    }
    if (!busy.empty()) return;
    int denied = machine.PermissionDenials();
    if (denied > 0) {
        Complain("no reader found: " + std::to_string(denied) +
                 " device node(s) could not be opened (permission denied)");
    } else if (!options.device.empty()) {
        Complain(options.device + " does not answer as this controller's reader");
    } else if (machine.Places().empty()) {
        Complain(machine.Simulated() ? "the simulated machine has no drives"
                                     : "there are no SCSI nodes (/dev/sg*, /dev/sd*): is the "
                                       "stick plugged in, and the sg or sd driver loaded?");
    } else {
        Complain("no reader of this controller family found: plug the stick in");
    }
}

namespace {

// What the line about write protection says: what the system knows, or what a probe found.
std::string Protection(const Machine& machine, const FoundUnit& unit, const DiskState& state,
                       bool inUse) {
    if (state.writeProtectionProbed) {
        return state.writeProtected ? "yes (a write was refused as protected)"
                                    : "no (a write went through)";
    }
    const int flag = machine.Simulated() ? -1 : ReadOnlyFlagOfNode(unit.node);
    if (flag == 1) return "yes (the system has it read-only)";
    if (flag == 0) return "no, as the system sees it (--probe-write-protect to try a write)";
    return inUse ? "not probed (in use)" : "not probed (--probe-write-protect to try a write)";
}

}  // namespace

int RunListCommand(const CliOptions& options) {
    int exitCode = kExitFailed;
    auto machine = Machine::Open(options, &exitCode);
    if (!machine) return exitCode;
    std::vector<FoundUnit> units;
    if (!FindAllUnits(machine->Port(), machine->Places(), &units)) {
        Complain("the SCSI transport cannot start");
        return kExitFailed;
    }
    if (units.empty()) {
        ReportNoReader(*machine, options);
        return kExitNoDisk;
    }
    for (const FoundUnit& unit : units) {
        // Each unit is looked at over its own node, as discovery found it.
        ReaderSession session(machine->Port(), {unit.place});
        if (!session.Open() || session.Units().empty()) continue;
        const bool flashDisk = IsFlashDiskKey(unit.key);
        // Write protection is only learnt by writing back what was read: that is done when
        // asked, on the controller's own flash disk, and never on a disk in use (the sector
        // written back could undo what its file system wrote meanwhile).
        bool inUse = !machine->Simulated() && !DiskUsers(unit.node).empty();
        // The probe writes: the stick is kept from everybody else for its two commands, and a
        // stick somebody holds (a mount in another namespace too) is not probed.
        std::unique_ptr<StickClaim> claim;
        const bool probe = options.probeWriteProtect && flashDisk && !inUse;
        if (probe) {
            std::string reason;
            bool busy = false;
            if (!machine->Claim(unit.place, StickClaim::Scope::Exclusive, &claim, &reason, &busy)) {
                inUse = true;
            }
        }
        const DiskState state = ProbeDisk(ReaderDeviceAccess(), unit.key, probe && !inUse);
        const DeviceIdentity identity = IdentityOfInquiry(unit.node, unit.inquiry);
        std::printf("%s: %s, %s %s %s\n", unit.node.c_str(), MediumName(unit.key).c_str(),
                    identity.vendor.c_str(), identity.product.c_str(), identity.revision.c_str());
        const std::string size = !state.ready ? "no medium, or not ready"
                                 : state.capacityRead
                                     ? SizeText(state.lastBlock + 1)
                                     : std::string("not formatted (no size reported)");
        std::printf("  size: %s\n", size.c_str());
        if (flashDisk && state.ready) {
            std::printf("  write-protected: %s\n",
                        Protection(*machine, unit, state, inUse).c_str());
        }
        // The serial tells sticks apart; the USB port tells identical ones apart by where
        // they are plugged in.
        const std::string serial = machine->UsbSerial(unit.place);
        const std::string port = machine->Simulated() ? "" : machine->UsbPort(unit.place);
        if (!serial.empty()) {
            std::printf("  serial: %s%s\n", serial.c_str(),
                        port.empty() ? "" : ("  USB port " + port).c_str());
        } else if (!port.empty()) {
            std::printf("  USB port: %s\n", port.c_str());
        }
        if (inUse)
            std::printf("  in use: a file system, swap or volume on it, or another program\n");
    }
    for (const std::string& node : machine->BusyNodes()) {
        std::printf("%s: %s%s\n", node.c_str(), kHeldElsewhere, WhereFrom(node).c_str());
    }
    std::fflush(stdout);
    return kExitComplete;
}
