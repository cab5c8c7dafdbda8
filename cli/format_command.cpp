#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cli/backup_folder.h"
#include "cli/block_map_of_run.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/machine.h"
#include "cli/output_path.h"
#include "cli/prompt.h"
#include "cli/run_report.h"
#include "cli/run_summary.h"
#include "cli/settings_check.h"
#include "cli/stick_choice.h"
#include "cli/stop_signals.h"
#include "cli/terminal_run.h"
#include "cli/worker_status.h"
#include "core/format_log.h"
#include "core/format_settings.h"
#include "format/cis_backup.h"
#include "format/device_access.h"
#include "format/disk_probe.h"
#include "format/fat_geometry.h"
#include "format/run_sequence.h"
#include "reader/port_command.h"

namespace {

// Reads the settings the options name (or Brevant.ini here, when there is one). False when they
// cannot be used; the reason has been shown.
bool LoadFormatSettings(const CliOptions& options, FormatSettings* settings) {
    std::string path = options.settingsGiven ? options.settingsPath : "Brevant.ini";
    SettingsCheck check = CheckSettingsFile(path);
    if (!check.readable) {
        if (!options.settingsGiven) {
            // No settings file: the defaults apply.
            if (options.verbosity >= 1)
                Complain("settings: none found (" + path + "), the defaults");
            return true;
        }
        std::string reason = check.unreadableReason.empty() ? "" : ": " + check.unreadableReason;
        Complain(path + ": cannot read the settings file" + reason);
        return false;
    }
    for (const auto& warning : check.warnings) Complain("warning: " + path + ": " + warning);
    if (!check.problems.empty()) {
        for (const auto& problem : check.problems) Complain(path + ": " + problem);
        Complain(path + ": the settings file is not usable; nothing was done");
        return false;
    }
    // What was checked is what is used: the file is not read a second time.
    ApplySettings(check.applied, settings);
    if (options.verbosity >= 1) Complain("settings: " + path);
    return true;
}

// The log of the command line keeps every run: it is added to, never emptied. False when an
// explicit --log cannot be opened (the reason has been shown).
bool OpenRunLog(const CliOptions& options, const FormatSettings& settings, FormatLog* log) {
    if (!options.logPath.empty()) {
        log->Open(1, options.logPath, FormatLog::FileMode::Append);
        if (log->Used() != 0) {
            Complain(options.logPath + ": cannot open the log file: " + std::strerror(errno));
            return false;
        }
    } else if (settings.GenerateLog != 0) {
        // The default name is as much a path as --log's: brevant.log here may lead to a disk.
        std::string reason;
        if (!IsWritableOutputPath("brevant.log", &reason)) {
            Complain("warning: " + reason + "; the run is not logged");
        } else {
            log->Open(1, "brevant.log", FormatLog::FileMode::Append);
            if (log->Used() != 0) Complain("warning: brevant.log cannot be opened; no log");
        }
    }
    log->NameBanks(true);
    return true;
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

// What the run learnt, as the report and the summary tell it.
void AddRecord(RunReport* report, const RunRecord& record, const std::string& message) {
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
            report->volume.fat16 = volume.fatType == FatType::Fat16;
            report->volume.sectors = volume.volumeSectors;
            report->volume.sectorsPerCluster = volume.sectorsPerCluster;
            report->volume.clusters = volume.DataClusters();
        }
    }
}

// The report and the picture, written however the run ended. False when one could not be
// written (the reason has been shown).
bool WriteOutputs(const CliOptions& options, const RunReport& report) {
    bool ok = true;
    const std::string json = ReportJson(report);
    if (options.json) std::fputs(json.c_str(), stdout);
    if (!options.reportPath.empty()) {
        std::ofstream out(options.reportPath, std::ios::binary | std::ios::trunc);
        out << json;
        if (!out) {
            Complain(options.reportPath + ": the report cannot be written");
            ok = false;
        }
    }
    if (!options.mapPath.empty()) {
        std::ofstream out(options.mapPath, std::ios::binary | std::ios::trunc);
        out << RenderBlockMapSvg(BlockMapOfReport(report));
        if (!out) {
            Complain(options.mapPath + ": the map cannot be written");
            ok = false;
        }
    }
    return ok;
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

// The format itself, from choosing the stick to its report; the caller writes the exports.
int FormatWithSettings(const CliOptions& options, const FormatSettings& settings, FormatLog& log,
                       Machine& machine, std::FILE* out, std::FILE* status, RunReport& report) {
    const long long startedAt = static_cast<long long>(std::time(nullptr));
    report.command = "format";
    report.hasMode = true;
    report.mode = options.mode;
    report.settings = settings;
    report.started = IsoLocalTime(startedAt);
    const std::uint64_t commandsBefore = CommandsSent();

    int exitCode = kExitFailed;
    ChosenStick stick;
    if (!ChooseStick(machine, options, "format", true, &stick, &exitCode)) return exitCode;
    report.device = stick.identity;

    DiskState state = ProbeDisk(ReaderDeviceAccess(), kMediaUsbDisk, true);
    if (state.ready && state.capacityRead) {
        report.capacityBeforeKnown = true;
        report.capacityBeforeSectors = state.lastBlock + 1;
    }
    const std::string size = report.capacityBeforeKnown
                                 ? SizeText(report.capacityBeforeSectors)
                                 : std::string("not formatted (no size reported)");
    if (!state.ready || state.writeProtected) {
        Complain(stick.unit.node +
                 (state.ready ? ": the stick is write-protected"
                              : ": the stick is not ready (no medium, or it "
                                "needs to be plugged in again)") +
                 "; nothing was done");
        report.result = state.ready ? "write-protected" : "failed";
        report.exitCode = kExitNoDisk;
        WriteOutputs(options, report);
        return kExitNoDisk;
    }

    if (options.verbosity >= 0) {
        std::fprintf(
            out, "Device: %s  %s %s %s%s\nCapacity: %s\nFormat: %s\n", stick.unit.node.c_str(),
            stick.identity.vendor.c_str(), stick.identity.product.c_str(),
            stick.identity.revision.c_str(),
            stick.identity.serial.empty() ? "" : ("  serial " + stick.identity.serial).c_str(),
            size.c_str(), options.mode == FormatMode::Full ? "Full" : "Quick");
    }
    // From here on Ctrl-C is an answer, not the end of the process: at the question it says
    // no, during the run it stops it as the Stop button does.
    InstallStopSignals();
    const bool confirmed =
        options.assumeYes ||
        AskYesNo(options.json ? stderr : out,
                 "Everything on " + stick.unit.node + " will be erased. Format it?", 0);
    if (!confirmed || (!options.assumeYes && StopSignalCount() != 0)) {
        std::fprintf(out, "Nothing was changed.\n");
        return kExitCancelled;
    }

    const std::string folder =
        options.backupDir.empty() ? DefaultBackupFolder() : options.backupDir;
    const std::string stickName =
        stick.identity.serial.empty() ? stick.unit.node : stick.identity.serial;
    TerminalRun::PageKeeper keep = [&](const CisBackup& pages, std::string* where,
                                       std::string* reason) {
        if (!MakeBackupFolder(folder, reason)) return false;
        CisBackup backup = pages;
        backup.device = stick.unit.node;
        backup.identity =
            stick.identity.vendor + " " + stick.identity.product + " " + stick.identity.revision;
        backup.saved = report.started;
        *where = BackupFileName(folder, stickName, startedAt);
        return WriteCisBackup(*where, backup, reason);
    };
    const bool showProgress = options.verbosity >= 0 && !options.json;
    TerminalRun run(settings, log, out, ::isatty(::fileno(out)) == 1, !showProgress,
                    DamagedAnswerOf(options), keep);
    run.SetStatusOut(status);
    if (options.verbosity >= 1) run.SetDetailOut(stderr);
    if (showProgress) {
        std::fprintf(out, "Formatting... press Ctrl-C to stop.\n");
        std::fflush(out);
    }
    LogRunStart(log, report.started, options, stick.identity);
    const FormatResult result =
        RunFormatSequence(run, ReaderDeviceAccess(), kMediaUsbDisk, options.mode);
    if (result == FormatResult::CompleteReplug && showProgress) run.ShowFinalProgress();
    run.EndProgressLine();

    report.elapsedSeconds = run.ElapsedSeconds();
    AddRecord(&report, run.Record(), run.RunMessage());
    report.commands = CommandsSent() - commandsBefore;
    report.exitCode = ExitCodeOf(result, run.Record());
    if (!options.json) std::fputs(FormatSummary(report, run.BackupFile()).c_str(), out);
    std::fflush(out);
    if (!WriteOutputs(options, report) && report.exitCode == kExitComplete) {
        return kExitFailed;
    }
    return report.exitCode;
}

}  // namespace

int RunFormatCommand(const CliOptions& options) {
    const bool station = options.workerStatus < 0 &&
                         (options.all || options.devices.size() > 1 || !options.reportDir.empty());
    if (station) return RunStationFormat(options);
    FormatSettings settings;
    if (!LoadFormatSettings(options, &settings)) return kExitUsage;
    if (!options.assumeYes && !InputIsTerminal()) {
        Complain("no terminal to ask for confirmation on: pass --yes to format without asking");
        return kExitUsage;
    }
    // The log is set up before any device is looked at: a log that cannot be opened stops
    // nothing but an explicit --log.
    FormatLog log;
    if (!OpenRunLog(options, settings, &log)) return kExitUsage;

    std::string error;
    int exitCode = kExitFailed;
    auto machine = Machine::Open(options, &exitCode);
    if (!machine) return exitCode;
    // A station's worker tells its parent how it goes, on the descriptor it was given.
    std::FILE* status = options.workerStatus >= 0 ? ::fdopen(options.workerStatus, "w") : nullptr;
    RunReport report;
    // With --json standard output holds the report alone; the words go to standard error.
    int code = FormatWithSettings(options, settings, log, *machine, options.json ? stderr : stdout,
                                  status, report);
    log.Flush();
    // The simulated machine's exports are written however the run ended: the trace of a refused
    // run shows what was (not) sent.
    if (!machine->WriteExports(options, &error)) {
        Complain(error);
        if (code == kExitComplete) code = kExitFailed;
    }
    if (status != nullptr) {
        WriteEndLine(status, code, report.result.empty() ? "failed" : report.result,
                     report.record.badBlocks, report.record.unmarkableBlocks,
                     report.capacityAfterKnown, report.capacityAfterSectors, report.message);
        std::fclose(status);
    }
    return code;
}
