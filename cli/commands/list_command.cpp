#include <cstdio>
#include <string>

#include "cli/commands/commands.h"
#include "cli/output/run_report.h"
#include "cli/output/size_text.h"
#include "cli/output/verdict_text.h"
#include "cli/shared/exit_codes.h"
#include "cli/shared/json_values.h"
#include "cli/shared/machine.h"
#include "cli/shared/messages.h"
#include "cli/shared/reader_session.h"
#include "cli/shared/stick_choice.h"
#include "format/disk_probe.h"
#include "format/health_scan.h"

namespace {

constexpr int kListSchemaVersion = 1;

// What list tells of one unit.
struct ListedUnit {
    FoundUnit unit;
    DeviceIdentity identity;
    bool flashDisk = false;
    DiskState state;
    bool inUse = false;
    std::string protection;   // as the text says it; empty for a unit not asked
    int writeProtected = -1;  // 1 yes, 0 no, -1 not known
    std::string serial;
    std::string usbPort;   // where it is plugged in: tells identical sticks apart
    HealthJudgement look;  // a few reading commands: a counterfeit is told
};

// What is known of the unit's write protection: what a probe found, or what the system says.
void LearnProtection(Machine& machine, ListedUnit* u) {
    if (u->state.writeProtectionProbed) {
        u->writeProtected = u->state.writeProtected ? 1 : 0;
        u->protection = u->state.writeProtected ? "yes (a write was refused as protected)"
                                                : "no (a write went through)";
        return;
    }
    const int flag = machine.Simulated() ? -1 : machine.ReadOnlyFlag(u->unit.node);
    u->writeProtected = flag;
    if (flag == 1) {
        u->protection = "yes (the system has it read-only)";
    } else if (flag == 0) {
        u->protection = "no, as the system sees it (--probe-write-protect to try a write)";
    } else {
        u->protection =
            u->inUse ? "not probed (in use)" : "not probed (--probe-write-protect to try a write)";
    }
}

void PrintText(const ListedUnit& u) {
    std::printf("%s: %s, %s %s %s\n", u.unit.node.c_str(), MediumName(u.unit.key).c_str(),
                u.identity.vendor.c_str(), u.identity.product.c_str(), u.identity.revision.c_str());
    const std::string size = !u.state.ready ? "no medium, or not ready"
                             : u.state.capacityRead
                                 ? SizeText(u.state.lastBlock + 1)
                                 : std::string("not formatted (no size reported)");
    std::printf("  size: %s\n", size.c_str());
    if (u.flashDisk && u.state.ready) {
        std::printf("  write-protected: %s\n", u.protection.c_str());
    }
    // The serial tells sticks apart; the USB port tells identical ones apart by where they are
    // plugged in.
    if (!u.serial.empty()) {
        std::printf("  serial: %s%s\n", u.serial.c_str(),
                    u.usbPort.empty() ? "" : ("  USB port " + u.usbPort).c_str());
    } else if (!u.usbPort.empty()) {
        std::printf("  USB port: %s\n", u.usbPort.c_str());
    }
    if (u.inUse) std::printf("  in use: a file system, swap or volume on it, or another program\n");
    const std::string counterfeit = CounterfeitText(u.look);
    if (!counterfeit.empty()) std::printf("  %s\n", counterfeit.c_str());
}

Json UnitJson(const ListedUnit& u) {
    const bool counterfeit = u.look.judged && u.look.verdict == Verdict::Counterfeit;
    return {
        {"node", u.unit.node},
        {"medium", MediumName(u.unit.key)},
        {"flash_disk", u.flashDisk},
        {"vendor", u.identity.vendor},
        {"product", u.identity.product},
        {"revision", u.identity.revision},
        {"serial", NullIfEmpty(u.serial)},
        {"usb_port", NullIfEmpty(u.usbPort)},
        {"ready", u.state.ready},
        {"size_sectors", NullUnless(u.state.ready && u.state.capacityRead, u.state.lastBlock + 1)},
        {"write_protected", u.writeProtected < 0 ? Json(nullptr) : Json(u.writeProtected == 1)},
        {"write_protection_probed", u.state.writeProtectionProbed},
        {"in_use", u.inUse},
        {"counterfeit", counterfeit ? Json{{"announced_sectors", u.look.announced.Largest()},
                                           {"flash_holds_sectors", u.look.flashHoldsSectors}}
                                    : Json(nullptr)}};
}

}  // namespace

int RunListCommand(const CliOptions& options) {
    int exitCode = kExitFailed;
    auto machine = Machine::Open(options, &exitCode);
    if (!machine) return exitCode;
    std::vector<std::unique_ptr<ReaderSession>> sessions;
    if (!OpenSessions(machine->Port(), machine->Places(), &sessions)) {
        Complain("the SCSI transport cannot start");
        return kExitFailed;
    }
    if (sessions.empty() && !options.json) {
        ReportNoReader(*machine, options);
        return kExitNoDisk;
    }
    Json listed = Json::array();
    for (const auto& session : sessions) {
        // Each unit is looked at over its own node, by the reader that found it there.
        const FoundUnit& found = session->Units()[0];
        ReaderDeviceAccess device(session->GetReader());
        ListedUnit u;
        u.unit = found;
        u.flashDisk = IsFlashDiskKey(found.key);
        // Write protection is only learnt by writing back what was read: that is done when
        // asked, on the controller's own flash disk, and never on a disk in use (the sector
        // written back could undo what its file system wrote meanwhile).
        u.inUse = !machine->Simulated() && !machine->Users(found.node).empty();
        // The probe writes: the stick is kept from everybody else for its two commands, and a
        // stick somebody holds (a mount in another namespace too) is not probed.
        std::unique_ptr<HeldStick> claim;
        const bool probe = options.probeWriteProtect && u.flashDisk && !u.inUse;
        if (probe) {
            std::string reason;
            bool busy = false;
            if (!machine->Claim(found.place, HeldStick::Scope::Exclusive, &claim, &reason, &busy)) {
                u.inUse = true;
            }
        }
        u.state = ProbeDisk(device, found.key, probe && !u.inUse);
        u.identity = IdentityOfInquiry(found.node, found.inquiry);
        u.serial = machine->UsbSerial(found.place);
        u.usbPort = machine->Simulated() ? "" : machine->UsbPort(found.place);
        if (u.flashDisk && u.state.ready) {
            LearnProtection(*machine, &u);
            ReaderUnit disk(session->GetReader(), found.key);
            u.look = JudgeHealth(HealthFactsOfScan(LookWithoutBlocks(disk)));
        }
        if (options.json) {
            listed.push_back(UnitJson(u));
        } else {
            PrintText(u);
        }
    }
    // Sticks another program holds for a run of its own are there, and named.
    Json held = Json::array();
    for (const std::string& node : machine->BusyNodes()) {
        if (options.json) {
            held.push_back({{"node", node},
                            {"serial", NullIfEmpty(machine->UsbSerialOfNode(node))},
                            {"usb_port", NullIfEmpty(machine->UsbPortOfNode(node))}});
        } else {
            std::printf("%s: %s%s\n", node.c_str(), kHeldElsewhere,
                        WhereFrom(*machine, node).c_str());
        }
    }
    if (options.json) {
        const Json json = {
            {"schema", kListSchemaVersion}, {"units", listed}, {"held_elsewhere", held}};
        std::fputs(
            (json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n").c_str(),
            stdout);
    }
    std::fflush(stdout);
    int code = kExitComplete;
    if (sessions.empty()) {
        ReportNoReader(*machine, options);
        code = kExitNoDisk;
    }
    std::string error;
    if (!machine->WriteExports(options, &error)) {
        Complain(error);
        if (code == kExitComplete) code = kExitFailed;
    }
    return code;
}
