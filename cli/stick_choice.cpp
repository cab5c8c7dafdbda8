#include "cli/stick_choice.h"

#include <cstdio>

#include "cli/exit_codes.h"
#include "cli/messages.h"
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

    if (refuseInUse && !machine.Simulated()) {
        const std::vector<std::string> users = DiskUsers(stick->unit.node);
        if (!users.empty()) {
            for (const auto& user : users) Complain("in use: " + user);
            Complain(stick->unit.node + " is in use: unmount it first; nothing was done");
            *exitCode = kExitNoDisk;
            return false;
        }
    }
    return true;
}
