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

void ReportNoReader(Machine& machine, const CliOptions& options) {
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
        const bool inUse = !machine->Simulated() && !DiskUsers(unit.node).empty();
        const DiskState state = ProbeDisk(ReaderDeviceAccess(), unit.key,
                                          options.probeWriteProtect && flashDisk && !inUse);
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
        const std::string serial = machine->UsbSerial(unit.place);
        if (!serial.empty()) std::printf("  serial: %s\n", serial.c_str());
        if (inUse) std::printf("  in use: a file system, swap or volume on it\n");
    }
    std::fflush(stdout);
    return kExitComplete;
}
