#include "cli/stick_choice.h"

#include <cstdio>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "reader/sgio_nodes.h"

void Complain(const std::string& text) { std::fprintf(stderr, "brevant: %s\n", text.c_str()); }

bool ChooseStick(Machine& machine, const CliOptions& options, const char* verb, bool refuseInUse,
                 ChosenStick* stick, int* exitCode) {
    std::vector<FoundUnit> units;
    if (!FindAllUnits(machine.Port(), machine.Places(), &units)) {
        Complain("the SCSI transport cannot start");
        *exitCode = kExitFailed;
        return false;
    }
    if (units.empty()) {
        ReportNoReader(machine, options);
        *exitCode = kExitNoDisk;
        return false;
    }
    std::vector<const FoundUnit*> disks;
    for (const auto& unit : units) {
        if (IsFlashDiskKey(unit.key)) disks.push_back(&unit);
    }
    if (disks.empty()) {
        Complain(std::string("the reader units found are card slots; only a USB flash disk of "
                             "this controller can be worked on (nothing to ") +
                 verb + ")");
        *exitCode = kExitNoDisk;
        return false;
    }
    if (disks.size() > 1) {
        std::string names;
        for (const auto* disk : disks) names += " " + disk->node;
        Complain("several USB flash disks found (" + names.substr(1) + "): name the one to " +
                 verb + " with --device");
        *exitCode = kExitUsage;
        return false;
    }
    stick->unit = *disks[0];
    stick->identity = IdentityOfInquiry(stick->unit.node, stick->unit.inquiry);
    stick->identity.serial = machine.UsbSerial(stick->unit.place);
    stick->identity.usbPort = machine.UsbPort(stick->unit.place);

    std::string reason;
    if (!machine.Simulated() && !MayCarryVendorCommands(stick->unit.node, &reason)) {
        Complain(reason + "; nothing was done");
        *exitCode = kExitNoDisk;
        return false;
    }
    if (refuseInUse && !machine.Simulated()) {
        const std::vector<std::string> users = DiskUsers(stick->unit.node);
        if (!users.empty()) {
            for (const auto& user : users) Complain("in use: " + user);
            Complain(stick->unit.node + " is in use: unmount it first; nothing was done");
            *exitCode = kExitNoDisk;
            return false;
        }
        // The mounts of other namespaces, and every other holder, show in the claim.
        bool busy = false;
        if (!machine.Claim(stick->unit.place, StickClaim::Scope::DriverOff, &stick->claim, &reason,
                           &busy)) {
            Complain(
                reason + "; nothing was done" +
                (stick->identity.serial.empty() ? "" : " (serial " + stick->identity.serial + ")"));
            *exitCode = kExitNoDisk;
            return false;
        }
    }
    // The work is done over the stick's node alone, where it is the first unit.
    stick->session = std::make_unique<ReaderSession>(machine.Port(),
                                                     std::vector<std::uint32_t>{stick->unit.place});
    if (!stick->session->Open() || stick->session->Units().empty() ||
        stick->session->Units()[0].key != kMediaUsbDisk) {
        Complain(stick->unit.node + " no longer answers as a USB flash disk");
        *exitCode = kExitNoDisk;
        return false;
    }
    return true;
}
