#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/machine.h"
#include "cli/reader_session.h"
#include "core/string_table.h"
#include "format/disk_probe.h"
#include "reader/sgio_nodes.h"

void ReportNoReader(Machine& machine, const CliOptions& options) {
    std::printf("%s\n", AppString(IDS_NO_USB_DISK));
    std::fflush(stdout);
    int denied = machine.PermissionDenials();
    if (denied > 0) {
        std::fprintf(stderr, "brevant: %d device node(s) could not be opened: permission denied\n",
                     denied);
    } else if (!options.device.empty()) {
        std::fprintf(stderr, "brevant: %s does not answer as this controller's reader\n",
                     options.device.c_str());
    } else if (machine.Places().empty()) {
        std::fprintf(stderr, "brevant: %s\n",
                     machine.Simulated()
                         ? "the simulated machine has no drives"
                         : "there are no SCSI nodes (/dev/sg*, /dev/sd*): is the stick plugged "
                           "in, and the sg or sd driver loaded?");
    }
}

int RunListCommand(const CliOptions& options) {
    std::string error;
    int exitCode = kExitFailed;
    auto machine = Machine::Open(options, &error, &exitCode);
    if (!machine) {
        std::fprintf(stderr, "brevant: %s\n", error.c_str());
        return exitCode;
    }
    std::vector<FoundUnit> units;
    if (!FindAllUnits(machine->Port(), machine->Places(), &units)) {
        std::fprintf(stderr, "brevant: the SCSI transport cannot start\n");
        return kExitFailed;
    }
    if (units.empty()) {
        ReportNoReader(*machine, options);
        return kExitNoDisk;
    }
    std::printf("%-12s %-4s %-18s %-28s %s\n", "NODE", "KEY", "MEDIUM", "CAPACITY",
                "WRITE-PROTECTED");
    for (const FoundUnit& unit : units) {
        // Each unit is probed over its own node, as discovery found it.
        ReaderSession session(machine->Port(), {unit.place});
        if (!session.Open() || session.Units().empty()) continue;
        // Write protection is learnt by writing back what was read; only the controller's own
        // flash disk is put through that, card slots are only measured.
        // A disk in use is not written to at all: the sector written back could undo what
        // the file system on it wrote in the meantime.
        bool inUse = !machine->Simulated() && !DiskUsers(unit.node).empty();
        bool flashDisk = IsFlashDiskKey(unit.key);
        DiskState state = ProbeDisk(ReaderDeviceAccess(), unit.key, flashDisk && !inUse);
        std::string capacity = state.ready ? CapacityText(state) : "not ready";
        std::string protection = !state.ready || !state.writeProtectionProbed
                                     ? (flashDisk && inUse ? "- (in use)" : "-")
                                     : (state.writeProtected ? "yes" : "no");
        std::printf("%-12s %-4u %-18s %-28s %s\n", unit.node.c_str(), unsigned(unit.key),
                    MediumName(unit.key).c_str(), capacity.c_str(), protection.c_str());
    }
    std::fflush(stdout);
    return kExitComplete;
}
