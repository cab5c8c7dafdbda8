#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/machine.h"
#include "cli/output_path.h"
#include "cli/prompt.h"
#include "cli/reader_session.h"
#include "cli/settings_check.h"
#include "cli/stop_signals.h"
#include "cli/terminal_run.h"
#include "core/format_log.h"
#include "core/format_settings.h"
#include "core/status_texts.h"
#include "core/string_table.h"
#include "format/device_access.h"
#include "format/disk_probe.h"
#include "format/run_sequence.h"
#include "reader/sgio_nodes.h"

namespace {

void Complain(const std::string& text) { std::fprintf(stderr, "brevant: %s\n", text.c_str()); }

// Reads the settings the options name (or Brevant.ini here, when there is one). False when they
// cannot be used; the reason has been shown.
bool LoadFormatSettings(const CliOptions& options, FormatSettings* settings) {
    std::string path = options.settingsGiven ? options.settingsPath : "Brevant.ini";
    SettingsCheck check = CheckSettingsFile(path);
    if (!check.readable) {
        if (!options.settingsGiven) return true;  // no settings file: the defaults apply
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
    return true;
}

// The flash disk to format among the units found, or nullptr (the reason has been shown).
const FoundUnit* ChooseFlashDisk(const std::vector<FoundUnit>& units, int* exitCode) {
    std::vector<const FoundUnit*> disks;
    for (const auto& unit : units) {
        if (IsFlashDiskKey(unit.key)) disks.push_back(&unit);
    }
    if (disks.empty()) {
        Complain("the reader units found are card slots; only its USB flash disk is formatted");
        *exitCode = kExitNoDisk;
        return nullptr;
    }
    if (disks.size() > 1) {
        std::string names;
        for (const auto* disk : disks) names += " " + disk->node;
        Complain("several USB flash disks found (" + names.substr(1) +
                 "): name the one to format with --device");
        *exitCode = kExitUsage;
        return nullptr;
    }
    return disks[0];
}

int ExitCodeOf(FormatResult result, const TerminalRun& run) {
    switch (result) {
        case FormatResult::Complete:
        case FormatResult::CompleteReplug:
            return kExitComplete;
        case FormatResult::Cancelled:
            return run.DiskRemoved() ? kExitFailed : kExitCancelled;
        default:
            break;
    }
    return kExitFailed;
}

// The format itself, from discovery to the result; the caller writes the exports.
int FormatWithSettings(const CliOptions& options, const FormatSettings& settings, FormatLog& log,
                       Machine& machine) {
    int exitCode = kExitFailed;
    std::vector<FoundUnit> units;
    if (!FindAllUnits(machine.Port(), machine.Places(), &units)) {
        Complain("the SCSI transport cannot start");
        return kExitFailed;
    }
    if (units.empty()) {
        ReportNoReader(machine, options);
        return kExitNoDisk;
    }
    const FoundUnit* chosen = ChooseFlashDisk(units, &exitCode);
    if (chosen == nullptr) return exitCode;
    const std::string node = chosen->node;
    // The format runs over the chosen disk's node alone, where it is the first unit.
    auto session =
        std::make_unique<ReaderSession>(machine.Port(), std::vector<std::uint32_t>{chosen->place});
    if (!session->Open() || session->Units().empty() || session->Units()[0].key != kMediaUsbDisk) {
        Complain(node + " no longer answers as a USB flash disk");
        return kExitNoDisk;
    }

    if (!machine.Simulated()) {
        std::vector<std::string> users = DiskUsers(node);
        if (!users.empty()) {
            for (const auto& user : users) Complain("in use: " + user);
            Complain(node + " is in use: unmount it first; nothing was done");
            return kExitNoDisk;
        }
    }

    DiskState state = ProbeDisk(ReaderDeviceAccess(), kMediaUsbDisk, true);
    if (!state.ready) {
        std::printf("%s\n", AppString(IDS_POWERED_OFF));
        return kExitNoDisk;
    }
    std::string capacity = CapacityText(state);
    if (state.writeProtected) {
        std::printf("%s: %s\n%s\n", node.c_str(), capacity.c_str(), AppString(IDS_WRITE_PROTECTED));
        return kExitNoDisk;
    }

    std::printf("Device: %s (%s)\nCapacity: %s\nFormat: %s\n", node.c_str(),
                MediumName(kMediaUsbDisk).c_str(), capacity.c_str(),
                options.mode == FormatMode::Full ? "Full" : "Quick");
    // From here on Ctrl-C is an answer, not the end of the process: at the question it says
    // no, during the run it stops it as the Stop button does.
    InstallStopSignals();
    bool confirmed = options.assumeYes || AskYesNo(stdout, AppString(IDS_CONFIRM_ERASE), 0);
    if (!confirmed || (!options.assumeYes && StopSignalCount() != 0)) {
        std::printf("Nothing was changed.\n");
        return kExitCancelled;
    }

    bool terminal = ::isatty(STDOUT_FILENO) == 1;
    ReaderSession* live = session.get();
    TerminalRun run(settings, log, stdout, terminal, [live] { return live->StillPresent(); });
    std::printf("Formatting... press Ctrl-C to stop.\n");
    std::fflush(stdout);

    std::time_t started = std::time(nullptr);
    FormatResult result = RunFormatSequence(run, ReaderDeviceAccess(), kMediaUsbDisk, options.mode);
    long elapsed = static_cast<long>(std::time(nullptr) - started);
    if (result == FormatResult::CompleteReplug) run.ShowFinalProgress();
    run.EndProgressLine();

    // The dialog's status text, a line for each of its parts.
    std::string message = run.RunMessage();
    if (!message.empty() && message.back() != '\n') message += '\n';
    std::string resultText = ResultText(result);
    if (!resultText.empty()) resultText += '\n';
    std::printf("%s%s%s%s\n", message.c_str(), resultText.c_str(), AppString(IDS_TIME_ELAPSED),
                ElapsedText(elapsed).c_str());
    std::printf("Bad blocks: %u\n", run.BadBlocks());
    if (run.DiskRemoved()) {
        std::printf(
            "The disk was pulled out during the format: plug it in again and format it "
            "once more before using it.\n");
    }
    std::fflush(stdout);

    return ExitCodeOf(result, run);
}

}  // namespace

int RunFormatCommand(const CliOptions& options) {
    FormatSettings settings;
    if (!LoadFormatSettings(options, &settings)) return kExitUsage;
    bool interactive = InputIsTerminal();
    if (!options.assumeYes && !interactive) {
        Complain("no terminal to ask for confirmation on: pass --yes to format without asking");
        return kExitUsage;
    }

    // The log is set up before any device is looked at, as the program does at start: a log
    // that cannot be created stops nothing but an explicit --log.
    FormatLog log;
    if (!options.logPath.empty()) {
        log.Open(1, options.logPath);
        if (log.Used() != 0) {
            Complain(options.logPath + ": cannot create the log file");
            return kExitUsage;
        }
    } else {
        // The default name is as much a path as --log's: brevant.log here may be a link to a disk.
        std::string reason;
        bool usable = settings.GenerateLog == 0 || IsWritableOutputPath("brevant.log", &reason);
        log.Open(usable ? settings.GenerateLog : 0);
        if (!usable) {
            Complain("warning: " + reason + ": the run is not logged");
        } else if (settings.GenerateLog != 0 && log.Used() != 0) {
            Complain("warning: brevant.log cannot be created: the run is not logged");
        }
    }

    std::string error;
    int exitCode = kExitFailed;
    auto machine = Machine::Open(options, &error, &exitCode);
    if (!machine) {
        Complain(error);
        return exitCode;
    }
    int code = FormatWithSettings(options, settings, log, *machine);
    log.Flush();
    // The simulated machine's exports are written however the run ended: the trace of a refused
    // run shows what was (not) sent.
    if (!machine->WriteExports(options, &error)) {
        Complain(error);
        if (code == kExitComplete) code = kExitFailed;
    }
    return code;
}
