#include "cli/shared/stick_choice.h"

#include <cstdio>

#include "cli/shared/exit_codes.h"
#include "cli/shared/messages.h"

std::string WhereFrom(Machine& machine, const std::string& node) {
    const std::string serial = machine.UsbSerialOfNode(node);
    const std::string port = machine.UsbPortOfNode(node);
    std::string text;
    if (!serial.empty()) text += "serial " + serial;
    if (!port.empty()) text += (text.empty() ? "" : ", ") + std::string("USB port ") + port;
    return text.empty() ? text : " (" + text + ")";
}

void ReportNoReader(Machine& machine, const CliOptions& options) {
    // Sticks another program holds for a run of its own are there, and named.
    const std::vector<std::string> busy = machine.BusyNodes();
    for (const std::string& node : busy) {
        Complain(node + WhereFrom(machine, node) + ": " + kHeldElsewhere + "; nothing was done");
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

bool ChooseStick(Machine& machine, const CliOptions& options, const char* verb, bool refuseInUse,
                 ChosenStick* stick, int* exitCode) {
    std::vector<std::unique_ptr<ReaderSession>> sessions;
    if (!OpenSessions(machine.Port(), machine.Places(), &sessions)) {
        Complain("the SCSI transport cannot start");
        *exitCode = kExitFailed;
        return false;
    }
    if (sessions.empty()) {
        ReportNoReader(machine, options);
        *exitCode = kExitNoDisk;
        return false;
    }
    // Each session is one node, and there the flash disk is the first unit.
    std::vector<std::unique_ptr<ReaderSession>*> disks;
    for (auto& session : sessions) {
        if (session->Units()[0].key == kMediaUsbDisk) disks.push_back(&session);
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
        for (const auto* disk : disks) names += " " + (*disk)->Units()[0].node;
        Complain("several USB flash disks found (" + names.substr(1) + "): name the one to " +
                 verb + " with --device");
        *exitCode = kExitUsage;
        return false;
    }
    stick->session = std::move(*disks[0]);
    stick->unit = stick->session->Units()[0];
    stick->identity = IdentityOfInquiry(stick->unit.node, stick->unit.inquiry);
    stick->identity.serial = machine.UsbSerial(stick->unit.place);
    stick->identity.usbPort = machine.UsbPort(stick->unit.place);

    std::string reason;
    if (!machine.Simulated() && !machine.MayCarryVendorCommands(stick->unit.node, &reason)) {
        Complain(reason + "; nothing was done");
        *exitCode = kExitNoDisk;
        return false;
    }
    if (refuseInUse && !machine.Simulated()) {
        const std::vector<std::string> users = machine.Users(stick->unit.node);
        if (!users.empty()) {
            for (const auto& user : users) Complain("in use: " + user);
            Complain(stick->unit.node + " is in use: unmount it first; nothing was done");
            *exitCode = kExitNoDisk;
            return false;
        }
        // The mounts of other namespaces, and every other holder, show in the claim.
        bool busy = false;
        std::unique_ptr<HeldStick> claim;
        if (!machine.Claim(stick->unit.place, HeldStick::Scope::DriverOff, &claim, &reason,
                           &busy)) {
            Complain(
                reason + "; nothing was done" +
                (stick->identity.serial.empty() ? "" : " (serial " + stick->identity.serial + ")"));
            *exitCode = kExitNoDisk;
            return false;
        }
        // Held with nothing to hold (a stick with no volume the system knows): said at -v.
        if (!reason.empty() && options.verbosity >= 1) Note(stderr, reason);
        stick->session->Keep(std::move(claim));
    }
    return true;
}
