// brevant format --dry-run: what a format of the stick would do, found out with reading commands
// alone. The stick is identified and looked at as check looks at it; nothing is written, erased,
// marked or filled, and no write-protect probe is made (it writes a sector back).

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "cli/commands/commands.h"
#include "cli/output/health_text.h"
#include "cli/output/history_text.h"
#include "cli/output/run_history.h"
#include "cli/output/size_text.h"
#include "cli/output/verdict_text.h"
#include "cli/shared/backup_folder.h"
#include "cli/shared/exit_codes.h"
#include "cli/shared/machine.h"
#include "cli/shared/messages.h"
#include "cli/shared/output_file.h"
#include "cli/shared/state_folder.h"
#include "cli/shared/stick_choice.h"
#include "cli/shared/stop_signals.h"
#include "format/disk_probe.h"
#include "format/fat_geometry.h"
#include "format/health_scan.h"

namespace {

// Where the old pages would be kept, and whether they could be.
std::string BackupPlace(const CliOptions& options, const ChosenStick& stick) {
    const std::string folder =
        options.backupDir.empty() ? DefaultBackupFolder() : options.backupDir;
    const std::string name =
        stick.identity.serial.empty() ? stick.unit.node : stick.identity.serial;
    std::string text = PathInFolder(
        folder, BackupFileBase(name, static_cast<long long>(std::time(nullptr))) + ".cis");
    std::string reason;
    std::error_code looked;
    if (!std::filesystem::exists(folder, looked)) {
        text += " (the folder would be made)";
    } else if (!CheckOutputFolder(folder, &reason)) {
        text += ", but " + reason +
                ": a format would stop there (--backup-dir DIR names "
                "another folder)";
    }
    return text;
}

// What a format would erase and write, from the look.
std::string WouldDo(const CliOptions& options, const HealthScan& scan,
                    const HealthJudgement& judgement, const ChosenStick& stick) {
    std::uint32_t blocks = 0;
    std::uint32_t bad = 0;
    std::uint32_t holding = 0;
    for (const BankRecord& bank : scan.banks) {
        blocks += bank.blocks;
        bad += static_cast<std::uint32_t>(bank.bad.size());
        holding += static_cast<std::uint32_t>(bank.holdingData.size());
    }
    std::string text = "A format (" +
                       std::string(options.mode == FormatMode::Full ? "Full" : "Quick") +
                       ") would erase " + std::to_string(blocks - bad) + " of " +
                       std::to_string(blocks) + " blocks, every one not marked bad; " +
                       std::to_string(holding) + " of them hold data, which would be gone.\n";
    if (scan.cisPage >= 0) {
        text += "It would first keep the old CIS page (page " + std::to_string(scan.cisPage) +
                (scan.vendorPage ? ") and the vendor page behind it" : ")") + " in " +
                BackupPlace(options, stick) + "\n";
    } else {
        text += "There is no CIS page to keep.\n";
    }
    VolumeGeometry volume;
    if (judgement.formatSectorsKnown && judgement.formatSectors != 0 &&
        ComputeVolumeGeometry(judgement.formatSectors, &volume)) {
        text += "It would write a new CIS page and an empty FAT" +
                std::string(volume.fatType == FatType::Fat16 ? "16" : "12") + " volume of " +
                SizeText(volume.volumeSectors) +
                (options.label.empty() ? "" : ", label " + LabelText(VolumeLabelOf(options))) +
                (options.mode == FormatMode::Full ? " (less if the surface tests find weak blocks)"
                                                  : "") +
                ".\n";
    }
    return text;
}

}  // namespace

int RunFormatDryRun(const CliOptions& options, const FormatSettings& /*settings*/) {
    int exitCode = kExitFailed;
    auto machine = Machine::Open(options, &exitCode);
    if (!machine) return exitCode;
    ChosenStick stick;
    if (!ChooseStick(*machine, options, "format", true, &stick, &exitCode)) return exitCode;
    ReaderDeviceAccess device(stick.GetReader());
    const DiskState state = ProbeDisk(device, kMediaUsbDisk, false);
    int code = kExitComplete;
    if (!state.ready) {
        Complain(stick.unit.node +
                 ": the stick is not ready (no medium, or it needs to be "
                 "plugged in again); a format would do nothing");
        code = kExitNoDisk;
    } else {
        const DeviceIdentity& id = stick.identity;
        std::printf("Device: %s  %s %s %s%s\nDry run: only reading commands are sent.\n",
                    id.node.c_str(), id.vendor.c_str(), id.product.c_str(), id.revision.c_str(),
                    id.serial.empty() ? "" : ("  serial " + id.serial).c_str());
        std::fflush(stdout);
        RunHistory history;
        const std::optional<HistoryEntry> previous = history.Previous(id);
        InstallStopSignals();
        ProgressEvents none;
        ReaderUnit disk(stick.GetReader(), kMediaUsbDisk);
        const HealthScan scan = LookAtEveryBlock(disk, stdout, options.verbosity < 0, none);
        const HealthJudgement judgement = JudgeHealth(HealthFactsOfScan(scan));
        std::string text = CheckSummary(scan, judgement) + PreviousRunText(previous) + "\n";
        const std::string counterfeit = CounterfeitText(judgement);
        if (!counterfeit.empty()) text += "Warning: " + counterfeit + "\n";
        if (scan.stopped) {
            text += "Stopped before every block was read.\n";
            code = kExitCancelled;
        } else if (!scan.banksKnown) {
            Complain(stick.unit.node +
                     ": the stick's flash banks could not be read; a format "
                     "would fail");
            code = kExitFailed;
        } else {
            text += WouldDo(options, scan, judgement, stick) + VerdictLines(judgement);
        }
        std::fputs((text + "Nothing was changed.\n").c_str(), stdout);
    }
    std::fflush(stdout);
    std::string error;
    if (!machine->WriteExports(options, &error)) {
        Complain(error);
        if (code == kExitComplete) code = kExitFailed;
    }
    return code;
}
