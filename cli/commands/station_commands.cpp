// brevant format --all (or --device given several times, or --report-dir), and brevant watch:
// the station's two ways of formatting many sticks, each by a worker of its own.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands/commands.h"
#include "cli/commands/station.h"
#include "cli/commands/stick_watch.h"
#include "cli/output/run_history.h"
#include "cli/output/screen_in_place.h"
#include "cli/output/station_view.h"
#include "cli/shared/backup_folder.h"
#include "cli/shared/exit_codes.h"
#include "cli/shared/machine.h"
#include "cli/shared/messages.h"
#include "cli/shared/output_file.h"
#include "cli/shared/prompt.h"
#include "cli/shared/settings_check.h"
#include "cli/shared/state_folder.h"
#include "cli/shared/stick_choice.h"
#include "cli/shared/stop_signals.h"

namespace {

// Between looks for news of the workers (and, watching, for sticks that came or went).
constexpr int kLookMilliseconds = 200;

// The problems a user can mend are told before anything is asked or started: the settings file
// every worker will read, the folders the reports and the old pages go to, the question's
// terminal. False with the reasons shown; `settingsPath` gets the settings file (empty: none).
bool CheckInputs(const CliOptions& options, std::string* settingsPath) {
    FormatSettings settings;
    if (!LoadRunSettings(options, &settings, settingsPath)) return false;
    const std::string backups =
        options.backupDir.empty() ? DefaultBackupFolder() : options.backupDir;
    for (const std::string* folder : {&options.reportDir, &backups}) {
        std::string reason;
        if (!folder->empty() && (!MakeFolders(*folder, &reason, OwnerOfStateFiles(*folder)) ||
                                 !CheckOutputFolder(*folder, &reason))) {
            Complain(reason +
                     (folder == &backups ? "; the old CIS pages cannot be kept there "
                                           "(--backup-dir DIR names another folder)"
                                         : std::string()) +
                     "; nothing was done");
            return false;
        }
    }
    if (!options.assumeYes && !InputIsTerminal()) {
        Complain("no terminal to ask for confirmation on: pass --yes to format without asking");
        return false;
    }
    return true;
}

// The options the parent's own look at the machine goes with: none of the files that are each
// worker's to write.
CliOptions ParentOptions(const CliOptions& options) {
    CliOptions parent = options;
    parent.tracePath.clear();
    parent.exportImage.clear();
    parent.exportPages.clear();
    return parent;
}

// The end of a session: the table, and what the workers had to say.
void ShowTheEnd(const std::vector<StationStick>& sticks) {
    std::fputs(StationTable(sticks).c_str(), stdout);
    std::fflush(stdout);
    std::fputs(WorkersWords(sticks).c_str(), stderr);
}

// Runs the workers to their end, passing a stop (Ctrl-C, SIGTERM) on to each of them.
void RunToTheEnd(Station& station, std::vector<StationStick>& sticks, StationView& view) {
    int stopsSeen = StopSignalCount();
    for (;;) {
        station.Follow(sticks, kLookMilliseconds);
        if (StopSignalCount() != stopsSeen) {
            stopsSeen = StopSignalCount();
            station.StopAll(sticks);
        }
        view.Show(sticks);
        const bool done = std::all_of(sticks.begin(), sticks.end(), WorkerHeard);
        if (done) break;
    }
    view.Show(sticks, true);
}

}  // namespace

int RunStationFormat(const CliOptions& options) {
    if (options.json || options.progressJson || !options.reportPath.empty() ||
        !options.mapPath.empty()) {
        Complain(
            "--report, --map, --json and --progress json are for one stick: with several, "
            "--report-dir DIR gets a report of each");
        return kExitUsage;
    }
    std::string settingsPath;
    if (!CheckInputs(options, &settingsPath)) return kExitUsage;
    std::string error;
    int exitCode = kExitFailed;
    // The sticks are found over every node; --device picks among them.
    CliOptions everyNode = ParentOptions(options);
    everyNode.device.clear();
    auto machine = Machine::Open(everyNode, &exitCode);
    if (!machine) return exitCode;
    std::vector<StationStick> found;
    if (!FindSticks(*machine, {}, &found)) {
        Complain("the SCSI transport cannot start");
        return kExitFailed;
    }
    std::vector<StationStick> sticks;
    if (options.all) {
        sticks = found;
    } else {
        // One worker a stick, however many of its names were given.
        for (const std::string& argument : options.devices) {
            std::string node;
            if (!machine->StickNode(argument, &node, &error)) {
                Complain(error);
                return kExitNoDisk;
            }
            auto named = [&node](const StationStick& s) { return s.identity.node == node; };
            if (std::any_of(sticks.begin(), sticks.end(), named)) continue;
            auto it = std::find_if(found.begin(), found.end(), named);
            if (it == found.end()) {
                Complain(argument + ": no flash disk of this controller family there");
                return kExitNoDisk;
            }
            sticks.push_back(*it);
        }
    }
    if (sticks.empty()) {
        ReportNoReader(*machine, options);
        return kExitNoDisk;
    }
    RunHistory history;
    for (StationStick& stick : sticks) LookCloser(*machine, history, &stick);
    std::printf("%zu stick(s) to format (%s):\n", sticks.size(),
                options.mode == FormatMode::Full ? "full" : "quick");
    for (const StationStick& stick : sticks) {
        const DeviceIdentity& id = stick.identity;
        const std::string last = stick.previousBad
                                     ? "  last run " + std::to_string(*stick.previousBad) + " bad"
                                     : std::string();
        std::printf("  %s  %s %s %s%s  %s%s\n", id.node.c_str(), id.vendor.c_str(),
                    id.product.c_str(), id.revision.c_str(),
                    id.serial.empty() ? "" : ("  serial " + id.serial).c_str(),
                    stick.sizeText.c_str(), last.c_str());
        if (!stick.counterfeit.empty()) std::printf("    %s\n", stick.counterfeit.c_str());
    }
    InstallStopSignals();
    if (!options.assumeYes &&
        (!AskYesNo(stdout, "Everything on these sticks will be erased. Format them?", 0) ||
         StopSignalCount() != 0)) {
        std::printf("Nothing was changed.\n");
        return kExitCancelled;
    }
    machine.reset();  // the workers have the nodes to themselves

    Station station(options, settingsPath);
    for (StationStick& stick : sticks) {
        if (!station.Start(&stick, &error)) {
            Complain(stick.identity.node + ": " + error);
            stick.exited = true;
        }
    }
    StationView view(stdout, ScreenInPlace(stdout));
    RunToTheEnd(station, sticks, view);
    ShowTheEnd(sticks);
    return StationExitCode(sticks);
}

int RunWatchCommand(const CliOptions& options) {
    std::string settingsPath;
    if (!CheckInputs(options, &settingsPath)) return kExitUsage;
    std::string error;
    InstallStopSignals();
    if (!options.assumeYes &&
        (!AskYesNo(stdout,
                   "Every stick plugged in from now on will be erased and formatted. Go on?", 0) ||
         StopSignalCount() != 0)) {
        std::printf("Nothing was changed.\n");
        return kExitCancelled;
    }
    std::vector<StationStick> session;  // every stick of the session, in the order it came
    Station station(options, settingsPath);
    RunHistory history;
    StationView view(stdout, ScreenInPlace(stdout));
    StickWatch watch(ParentOptions(options));
    for (bool first = true; StopSignalCount() == 0; first = false) {
        if (first || watch.Due()) {
            std::vector<std::string> busy;
            for (const StationStick& stick : session) {
                if (!stick.exited) busy.push_back(stick.identity.node);
            }
            // A stick there before the watch began is left alone, unless --all-present.
            const bool formatThem = !first || options.allPresent;
            const StickWatch::Meet meet = [&history, formatThem](Machine& machine,
                                                                 StationStick* stick) {
                if (formatThem) LookCloser(machine, history, stick);
            };
            std::vector<StationStick> arrived;
            if (!watch.Look(busy, meet, &arrived, &error)) {
                if (!error.empty()) Complain(error);
                return kExitFailed;
            }
            for (StationStick& stick : arrived) {
                if (!formatThem) continue;
                session.push_back(stick);
                if (!station.Start(&session.back(), &error)) {
                    Complain(stick.identity.node + ": " + error);
                    session.back().exited = true;
                }
            }
            if (first) {
                // Said once the sticks already there are known: from here on, a stick is new.
                std::printf("Watching for sticks (%zu there already%s); Ctrl-C ends the watch.\n",
                            arrived.size(),
                            options.allPresent ? ", formatted too" : ", left alone");
                std::fflush(stdout);
            }
        }
        station.Follow(session, kLookMilliseconds, watch.NewsFd());
        // A stick that is gone is shown no more; its result stays in the session's table.
        std::vector<StationStick> shown;
        for (const StationStick& stick : session) {
            if (!stick.exited || watch.StillThere(stick.identity.node)) shown.push_back(stick);
        }
        view.Show(shown);
    }
    // The workers' ends are drawn as everything before them: in place on a terminal.
    station.StopAll(session);
    RunToTheEnd(station, session, view);
    std::printf("The watch ended.\n");
    ShowTheEnd(session);
    return session.empty() ? kExitComplete : StationExitCode(session);
}
