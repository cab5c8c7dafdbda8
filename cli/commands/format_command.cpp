
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands/commands.h"
#include "cli/commands/restore_hint.h"
#include "cli/commands/soft_replug.h"
#include "cli/commands/terminal_run.h"
#include "cli/output/health_text.h"
#include "cli/output/history_text.h"
#include "cli/output/report_files.h"
#include "cli/output/run_history.h"
#include "cli/output/run_report.h"
#include "cli/output/run_summary.h"
#include "cli/output/size_text.h"
#include "cli/output/verdict_text.h"
#include "cli/shared/backup_folder.h"
#include "cli/shared/exit_codes.h"
#include "cli/shared/machine.h"
#include "cli/shared/messages.h"
#include "cli/shared/monotonic_clock.h"
#include "cli/shared/output_file.h"
#include "cli/shared/prompt.h"
#include "cli/shared/settings_check.h"
#include "cli/shared/state_folder.h"
#include "cli/shared/station_stop.h"
#include "cli/shared/stick_choice.h"
#include "cli/shared/stop_signals.h"
#include "cli/shared/terminal.h"
#include "core/format_log.h"
#include "core/format_settings.h"
#include "format/cis_backup.h"
#include "format/device_access.h"
#include "format/disk_probe.h"
#include "format/fat_geometry.h"
#include "format/health_scan.h"
#include "format/run_sequence.h"
#include "reader/reader_unit.h"

namespace {

// Where the run's log goes: --log (checked with the other outputs), else brevant.log here when
// the settings say GenerateLog=1, else nowhere. The default name is as much a path as --log's;
// one that cannot be written is only warned of, since nobody named it.
std::string LogPathOf(const CliOptions& options, const FormatSettings& settings) {
    if (!options.logPath.empty()) return options.logPath;
    if (settings.GenerateLog == 0) return std::string();
    std::string reason;
    if (!CheckOutputPath("brevant.log", OutputUse::Appended, &reason)) {
        Complain("warning: " + reason + "; the run is not logged");
        return std::string();
    }
    return "brevant.log";
}

// The log of the command line keeps every run: the run's lines are added to it at the end, with
// the command that puts the old pages back when they could not be written back. A log that
// cannot be written is warned of; the run's outcome stands.
void WriteRunLog(const std::string& path, const FormatLog& log, const RunReport& report) {
    if (path.empty() || log.Text() == nullptr) return;
    std::string text(log.Text(), log.Used() < FormatLog::kBufferSize ? log.Used() : 0);
    if (!report.restoreCommand.empty()) {
        text += "Old CIS/Vendor page not written back: " + report.restoreCommand + "\n";
    }
    std::string reason;
    if (!AppendToFile(path, text, &reason)) {
        Complain("warning: " + reason + "; the run's lines are not in the log");
    }
}

// "== 2026-12-08T09:30:00+01:00 format quick sim:E GENERIC USB FLASH DISK ==", cut to what a
// log line may hold.
void LogRunStart(FormatLog& log, const std::string& started, const CliOptions& options,
                 const DeviceIdentity& device) {
    std::string line = "== " + started + " format " +
                       (options.mode == FormatMode::Full ? "full " : "quick ") + device.node + " " +
                       device.vendor + " " + device.product;
    if (!device.serial.empty()) line += " serial " + device.serial;
    std::string safe;
    for (char c : line.substr(0, 90)) safe += c == '%' ? std::string("%%") : std::string(1, c);
    log.Append((safe + " ==\n").c_str());
}

int ExitCodeOf(FormatResult result, const RunRecord& record) {
    switch (record.end) {
        case RunEnd::Complete:
            return record.unmarkableBlocks != 0 ? kExitCompleteUnmarkable : kExitComplete;
        case RunEnd::Stopped:
        case RunEnd::Aborted:
            return result == FormatResult::Cancelled ? kExitCancelled : kExitFailed;
        case RunEnd::WriteProtected:
            return kExitNoDisk;
        case RunEnd::Removed:
        case RunEnd::Unresponsive:
        case RunEnd::Failed:
        case RunEnd::NotStarted:
            break;
    }
    return kExitFailed;
}

// What the run learnt, as the report and the summary tell it. `label`: the volume's, as typed.
void AddRecord(RunReport* report, const RunRecord& record, const std::string& message,
               const std::string& label) {
    report->record = record;
    report->result = ResultName(record.end);
    std::string plain = message;
    while (!plain.empty() && plain.back() == '\n') plain.pop_back();
    for (char& c : plain) c = c == '\n' ? ' ' : c;
    report->message = plain;
    if (record.cisPage >= 0) {
        report->cis.page = record.cisPage;
        report->cis.totals = record.totals;
        report->cis.banks = static_cast<std::uint8_t>(record.banks.size());
        if (report->cis.banks != 0) report->cis.sectors = record.totals[report->cis.banks - 1];
    }
    if (record.volumeSectors != 0) {
        report->capacityAfterKnown = true;
        report->capacityAfterSectors = record.volumeSectors;
        VolumeGeometry volume;
        if (ComputeVolumeGeometry(record.volumeSectors, &volume)) {
            report->volume.present = true;
            report->volume.label = label;
            report->volume.fat16 = volume.fatType == FatType::Fat16;
            report->volume.sectors = volume.volumeSectors;
            report->volume.sectorsPerCluster = volume.sectorsPerCluster;
            report->volume.clusters = volume.DataClusters();
        }
    }
}

DamagedAnswer DamagedAnswerOf(const CliOptions& options) {
    switch (options.onDamaged) {
        case CliOptions::OnDamaged::Abort:
            return DamagedAnswer::Abort;
        case CliOptions::OnDamaged::Continue:
            return DamagedAnswer::Continue;
        case CliOptions::OnDamaged::Ask:
            break;
    }
    // Unattended, nobody may be waited for: the safe answer puts the old pages back.
    return options.assumeYes ? DamagedAnswer::Abort : DamagedAnswer::Ask;
}

// The sizes the stick announces, from a look before the run: the verdict at its end holds them
// against the flash the run found.
AnnouncedSizes AnnouncedBy(const HealthScan& look) {
    AnnouncedSizes announced;
    if (look.capacityRead) announced.readCapacity = look.logicalSectors;
    if (look.cisPage >= 0 && look.cisDecoded) announced.cisPage = look.cis.sectors;
    return announced;
}

// The station's rule (--retire-above): every block read first, and the stick left as it is when
// it has more bad blocks than the rule allows. True (with the report filled in as a run that
// retired the stick) when it is to be retired.
bool RetiredByRule(const CliOptions& options, ReaderUnit& stick, std::FILE* out,
                   ProgressEvents& events, RunReport* report) {
    const double started = MonotonicSeconds();
    const HealthScan scan = LookAtEveryBlock(
        stick, out, options.verbosity < 0 || options.json || options.progressJson, events);
    if (!scan.banksKnown || scan.stopped) return false;  // the format finds out for itself
    std::uint32_t bad = 0;
    for (const BankRecord& bank : scan.banks) bad += static_cast<std::uint32_t>(bank.bad.size());
    const std::optional<std::uint32_t> before =
        report->previous ? std::optional<std::uint32_t>(report->previous->badBlocks) : std::nullopt;
    const std::string reason = RetireReason(*options.retireAbove, bad, before);
    if (reason.empty()) return false;
    FillCheckReport(scan, report);
    report->health = JudgeHealth(HealthFactsOfScan(scan));
    report->elapsedSeconds = MonotonicSeconds() - started;
    report->result = "retired";
    report->message = reason + " (--retire-above): left unformatted";
    report->exitCode = kExitRetire;
    return true;
}

// The stick's figures before the question: its size, what the history knows of it, and a
// counterfeit said plainly before anything is erased.
void ShowStick(const CliOptions& options, const ChosenStick& stick, const RunReport& report,
               const HealthJudgement& look, std::FILE* out) {
    const std::string size = report.capacityBeforeKnown
                                 ? SizeText(report.capacityBeforeSectors)
                                 : std::string("not formatted (no size reported)");
    const DeviceIdentity& id = stick.identity;
    std::fprintf(
        out, "Device: %s  %s %s %s%s\nCapacity: %s\nFormat: %s%s\n", id.node.c_str(),
        id.vendor.c_str(), id.product.c_str(), id.revision.c_str(),
        id.serial.empty() ? "" : ("  serial " + id.serial).c_str(), size.c_str(),
        options.mode == FormatMode::Full ? "Full" : "Quick",
        options.label.empty() ? "" : (", label " + LabelText(VolumeLabelOf(options))).c_str());
    std::fprintf(out, "%s\n", PreviousRunText(report.previous).c_str());
    const std::string counterfeit = CounterfeitText(look);
    if (!counterfeit.empty()) std::fprintf(out, "Warning: %s\n", counterfeit.c_str());
    std::fflush(out);
}

// The format itself, from choosing the stick to the report's figures; the caller writes the log,
// the report and the exports. `ran`: whether anything was done to the stick (the history keeps
// those runs); `reported`: whether there is a run to report.
int FormatWithSettings(const CliOptions& options, const FormatSettings& settings, FormatLog& log,
                       BackupFolder& backups, RunHistory& history, Machine& machine, std::FILE* out,
                       ProgressEvents& events, long long startedAt, RunReport& report, bool* ran,
                       bool* reported) {
    report.command = "format";
    report.hasMode = true;
    report.mode = options.mode;
    report.settings = settings;
    report.started = IsoLocalTime(startedAt);

    int exitCode = kExitFailed;
    ChosenStick stick;
    if (!ChooseStick(machine, options, "format", true, &stick, &exitCode)) return exitCode;
    report.device = stick.identity;
    report.previous = history.Previous(stick.identity);
    *ran = true;
    Reader& reader = stick.GetReader();
    ReaderDeviceAccess device(reader);
    ReaderUnit disk(reader, kMediaUsbDisk);

    // The write-protect probe writes a sector back: a stick the station's rule may leave alone is
    // looked at first, and probed only when it is to be formatted.
    DiskState state = ProbeDisk(device, kMediaUsbDisk, !options.retireAbove);
    if (state.ready && state.capacityRead) {
        report.capacityBeforeKnown = true;
        report.capacityBeforeSectors = state.lastBlock + 1;
    }
    auto refuse = [&](bool ready) {
        Complain(stick.unit.node +
                 (ready ? ": the stick is write-protected"
                        : ": the stick is not ready (no medium, or it needs to be plugged in "
                          "again)") +
                 "; nothing was done");
        report.result = ready ? "write-protected" : "failed";
        report.exitCode = kExitNoDisk;
        *reported = true;
        return kExitNoDisk;
    };
    if (!state.ready || state.writeProtected) return refuse(state.ready);
    // A few reading commands tell a stick that announces more than its flash can hold.
    const HealthScan look = LookWithoutBlocks(disk);
    const HealthJudgement lookJudgement = JudgeHealth(HealthFactsOfScan(look));
    if (options.verbosity >= 0) ShowStick(options, stick, report, lookJudgement, out);

    // From here on Ctrl-C is an answer, not the end of the process: at the question it says
    // no, during the run it stops it as the Stop button does.
    InstallStopSignals();
    FollowStationStop();
    if (options.retireAbove) {
        if (RetiredByRule(options, disk, out, events, &report)) {
            report.commands = reader.Commands().CommandsSent();
            std::fprintf(out, "Retired: %s.\n", report.message.c_str());
            if (report.health && options.verbosity >= 0) {
                std::fputs(VerdictLines(*report.health).c_str(), out);
            }
            std::fflush(out);
            *reported = true;
            return report.exitCode;
        }
        if (device.IsWriteProtected(kMediaUsbDisk)) return refuse(true);
    }
    const bool confirmed =
        options.assumeYes ||
        AskYesNo(out, "Everything on " + stick.unit.node + " will be erased. Format it?", 0);
    if (!confirmed || (!options.assumeYes && StopSignalCount() != 0)) {
        std::fprintf(out, "Nothing was changed.\n");
        *ran = false;
        report.result = "cancelled";
        return kExitCancelled;
    }

    const std::string stickName =
        stick.identity.serial.empty() ? stick.unit.node : stick.identity.serial;
    TerminalRun::PageKeeper keep = [&](const CisBackup& pages, std::string* where,
                                       std::string* reason) {
        CisBackup backup = pages;
        backup.device = stick.unit.node;
        backup.usbSerial = stick.identity.serial;
        backup.usbPort = stick.identity.usbPort;
        backup.inquiryVendor = stick.identity.vendor;
        backup.inquiryProduct = stick.identity.product;
        backup.inquiryRevision = stick.identity.revision;
        backup.saved = report.started;
        return backups.Keep(backup, stickName, startedAt, where, reason);
    };
    const bool showProgress = options.verbosity >= 0 && !options.json && !options.progressJson;
    TerminalRun run(settings, log, out, IsTerminal(out), !showProgress, DamagedAnswerOf(options),
                    keep);
    run.SetEventsOut(options.progressJson ? stdout : nullptr);
    run.SetLabel(VolumeLabelOf(options));
    if (options.verbosity >= 1) run.SetDetailOut(stderr);
    if (options.verbosity < 0) run.SetQuiet();
    if (showProgress) {
        std::fprintf(out, "Formatting... press Ctrl-C to stop.\n");
        std::fflush(out);
    }
    LogRunStart(log, report.started, options, stick.identity);
    const FormatResult result = RunFormatSequence(run, device, kMediaUsbDisk, options.mode);
    if (result == FormatResult::CompleteReplug && showProgress) run.ShowFinalProgress();
    run.EndProgressLine();

    report.elapsedSeconds = run.ElapsedSeconds();
    AddRecord(&report, run.Record(), run.RunMessage(), LabelText(VolumeLabelOf(options)));
    report.backupFile = run.BackupFile();
    if (PagesLost(report) && !report.backupFile.empty()) {
        report.restoreCommand = RestoreCommandLine(options, stick.unit.node, report.backupFile);
    }
    if (!report.record.banks.empty()) {
        HealthFacts facts = HealthFactsOfRun(report.record);
        facts.announced = AnnouncedBy(look);
        report.health = JudgeHealth(facts);
    }
    report.commands = reader.Commands().CommandsSent();
    report.exitCode = ExitCodeOf(result, run.Record());
    if (!run.KeepFailure().empty()) {
        // A fault of this machine's files, not of the stick: said as such, and the stick is as
        // it was.
        Complain("the old CIS page could not be kept: " + run.KeepFailure() +
                 "; nothing was erased (--backup-dir DIR keeps the old pages elsewhere)");
        report.exitCode = kExitNoDisk;
        std::fprintf(out, "Nothing was changed.\n");
        std::fflush(out);
        *reported = true;
        return report.exitCode;
    }
    if (!options.json && !(options.progressJson && options.verbosity < 0)) {
        std::fputs(FormatSummary(report).c_str(), out);
    }
    std::fflush(out);
    if (report.record.end == RunEnd::Unresponsive) {
        // The kernel's own look at a stick that does not answer would wait out its time-outs,
        // for minutes: the stick gets its disk driver back when it is plugged in again.
        stick.session->End(false);
        Complain("the stick does not answer: plug it out and in again");
    } else if (report.record.end != RunEnd::Removed) {
        // The system still has the stick as it was before the run (a pulled one it has let go).
        FinishAfterRun(machine, stick, options.replug, report.record.changedFlash,
                       options.verbosity >= 0 ? out : nullptr);
    }
    *reported = true;
    return report.exitCode;
}

}  // namespace

int RunFormatCommand(const CliOptions& options) {
    const bool station = options.all || options.devices.size() > 1 || !options.reportDir.empty();
    if (station) return RunStationFormat(options);
    FormatSettings settings;
    std::string settingsPath;
    if (!LoadRunSettings(options, &settings, &settingsPath)) return kExitUsage;
    if (options.dryRun) return RunFormatDryRun(options, settings);
    if (!options.assumeYes && !InputIsTerminal()) {
        Complain("no terminal to ask for confirmation on: pass --yes to format without asking");
        return kExitUsage;
    }
    const std::string logPath = LogPathOf(options, settings);
    int exitCode = kExitFailed;
    auto machine = Machine::Open(options, &exitCode);
    if (!machine) return exitCode;
    // The folder for the old pages is made and opened before any command is sent: a format that
    // could not keep them is not started.
    std::string error;
    BackupFolder backups;
    const std::string folder =
        options.backupDir.empty() ? DefaultBackupFolder() : options.backupDir;
    if (!backups.Open(folder, &error)) {
        Complain(error +
                 "; the old CIS pages cannot be kept there (--backup-dir DIR names another "
                 "folder): nothing was done");
        return kExitUsage;
    }
    // The log's lines are gathered while the run goes and added to its file at the end.
    FormatLog log;
    log.Open(logPath.empty() ? 0 : 1, logPath, FormatLog::FileMode::Memory);
    log.NameBanks(true);
    RunHistory history;
    // --progress json: standard output holds the events alone.
    ProgressEvents events(options.progressJson ? stdout : nullptr);
    RunReport report;
    bool ran = false;
    bool reported = false;
    // With --json standard output holds the report alone; the words go to standard error.
    const long long startedAt = static_cast<long long>(std::time(nullptr));
    const int code = FormatWithSettings(options, settings, log, backups, history, *machine,
                                        options.json || options.progressJson ? stderr : stdout,
                                        events, startedAt, report, &ran, &reported);
    WriteRunLog(logPath, log, report);
    log.Flush();
    if (ran) history.Record(report, startedAt);
    report.command = "format";
    return EndReportedCommand(options, *machine, reported, report, events, code);
}
