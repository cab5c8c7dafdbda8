#include "cli/commands/station.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "cli/commands/station_replug.h"
#include "cli/output/progress_view.h"
#include "cli/output/run_history.h"
#include "cli/output/size_text.h"
#include "cli/output/verdict_text.h"
#include "cli/shared/exit_codes.h"
#include "cli/shared/local_time.h"
#include "cli/shared/machine.h"
#include "cli/shared/messages.h"
#include "cli/shared/monotonic_clock.h"
#include "cli/shared/reader_session.h"
#include "format/device_access.h"
#include "format/disk_probe.h"
#include "format/health_scan.h"

namespace {

// A worker's last lines on standard error kept for the table, and how long one may be.
constexpr std::size_t kWordsKept = 8;
constexpr std::size_t kLongestWord = 400;

std::string Stamp() {
    const std::tm local = LocalTime(std::time(nullptr));
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

// A name that is there in any form (a link planted there too) is taken; one that cannot be
// looked at is left to the worker's own check of its files.
bool NameTaken(const std::string& path) {
    std::error_code error;
    const auto type = std::filesystem::symlink_status(path, error).type();
    return type != std::filesystem::file_type::not_found &&
           type != std::filesystem::file_type::none;
}

// "disk.img" with "-sim_E" before its extension: one file of each stick.
std::string PerStick(const std::string& path, const std::string& stick) {
    if (path.empty()) return path;
    const std::filesystem::path whole(path);
    std::filesystem::path name = whole.stem();
    name += "-" + stick;
    name += whole.extension();
    return (whole.parent_path() / name).string();
}

// Takes the whole lines of `bytes` out of `pending` to `take`, without the carriage return a
// Windows worker's C runtime puts before each line feed. A worker gone mad cannot make the
// parent hold a line without end: no event is near this long.
template <typename Take>
void TakeLines(std::string* pending, const std::string& bytes, Take take) {
    pending->append(bytes);
    for (std::size_t end = pending->find('\n'); end != std::string::npos;
         end = pending->find('\n')) {
        const std::size_t length = end > 0 && (*pending)[end - 1] == '\r' ? end - 1 : end;
        take(pending->substr(0, length));
        pending->erase(0, end + 1);
    }
    if (pending->size() > 65536) pending->clear();
}

// A line of a worker's standard error, kept without the program's name before it.
void KeepWord(StationStick* stick, std::string line, bool echo) {
    line = WithoutProgramName(line);
    if (line.size() > kLongestWord) line = line.substr(0, kLongestWord) + "...";
    if (echo) Complain(stick->identity.node + ": " + line);
    stick->words.push_back(line);
    if (stick->words.size() > kWordsKept) stick->words.erase(stick->words.begin());
}

}  // namespace

std::string StickFileName(const DeviceIdentity& identity) {
    const std::string source = identity.serial.empty() ? identity.node : identity.serial;
    std::string name;
    for (char c : source) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_';
        name += plain ? c : '_';
    }
    if (name.compare(0, 5, "_dev_") == 0) name.erase(0, 5);
    return name.empty() ? "stick" : name.substr(0, 64);
}

Station::Station(const CliOptions& options, const std::string& settingsPath)
    : options_(options), settingsPath_(settingsPath) {}

std::string Station::UniqueFileName(const DeviceIdentity& identity) {
    const std::string base = StickFileName(identity);
    std::string name = base;
    for (int n = 2; namesTaken_.count(name) != 0; ++n) name = base + "-" + std::to_string(n);
    namesTaken_.insert(name);
    return name;
}

std::vector<std::string> Station::WorkerArguments(const StationStick& stick) const {
    const std::string& name = stick.fileName;
    std::vector<std::string> args = {
        "format", "--yes", "--quiet", "--device", stick.identity.node, "--progress", "json"};
    // The format's own switches as the parent was given them (the option table says which).
    args.insert(args.end(), options_.workerArguments.begin(), options_.workerArguments.end());
    // A shop's sticks come back from their runs as the system will see them from now on.
    if (StationReplugs(options_)) args.push_back("--replug");
    // Files of the stick's own, and the settings file the parent checked.
    auto pass = [&args](const char* option, const std::string& value) {
        if (value.empty()) return;
        args.push_back(option);
        args.push_back(value);
    };
    pass("--settings", settingsPath_);
    pass("--export-image", PerStick(options_.exportImage, name));
    pass("--export-pages", PerStick(options_.exportPages, name));
    pass("--trace", PerStick(options_.tracePath, name));
    pass("--report", stick.reportFile);
    if (!options_.reportDir.empty()) {
        pass("--log", stick.reportFile.substr(0, stick.reportFile.size() - 5) + ".log");
    } else {
        pass("--log", PerStick(options_.logPath, name));
    }
    return args;
}

bool Station::Start(StationStick* stick, std::string* error) {
    stick->fileName = UniqueFileName(stick->identity);
    if (!options_.reportDir.empty()) {
        const std::string base =
            (std::filesystem::path(options_.reportDir) / (stick->fileName + "-" + Stamp()))
                .string();
        stick->reportFile = base + ".json";
        for (int n = 2; NameTaken(stick->reportFile); ++n) {
            stick->reportFile = base + "-" + std::to_string(n) + ".json";
        }
    }
    stick->worker = workers_.Start(WorkerArguments(*stick), error);
    if (stick->worker < 0) return false;
    stick->started = MonotonicSeconds();
    return true;
}

void Station::Follow(std::vector<StationStick>& sticks, int milliseconds, int wake) {
    const bool echo = options_.verbosity >= 1;
    for (WorkerNews& news : workers_.Wait(milliseconds, wake)) {
        auto it = std::find_if(sticks.begin(), sticks.end(),
                               [&news](const StationStick& s) { return s.worker == news.worker; });
        if (it == sticks.end()) continue;
        StationStick* stick = &*it;
        switch (news.kind) {
            case WorkerNews::Kind::Output:
                TakeLines(&stick->pending, news.bytes, [stick](const std::string& line) {
                    ReadProgressEvent(line, &stick->status);
                });
                break;
            case WorkerNews::Kind::Words:
                TakeLines(&stick->wordsPending, news.bytes,
                          [stick, echo](const std::string& line) { KeepWord(stick, line, echo); });
                break;
            case WorkerNews::Kind::End:
                stick->exited = true;
                stick->seconds = MonotonicSeconds() - stick->started;
                stick->peakKiB = news.peakKiB;
                stick->exitCode = news.exitCode;
                break;
        }
    }
}

void Station::StopAll(std::vector<StationStick>& sticks) {
    for (StationStick& stick : sticks) {
        if (stick.worker >= 0 && !stick.exited) workers_.Stop(stick.worker);
    }
}

int StationExitCode(const std::vector<StationStick>& sticks) {
    bool failed = false, noDisk = false, cancelled = false, unmarkable = false, retired = false;
    for (const StationStick& stick : sticks) {
        const int code = stick.status.ended ? stick.status.exitCode : stick.exitCode;
        failed =
            failed || (code != kExitComplete && code != kExitNoDisk && code != kExitCancelled &&
                       code != kExitCompleteUnmarkable && code != kExitRetire);
        noDisk = noDisk || code == kExitNoDisk;
        cancelled = cancelled || code == kExitCancelled;
        unmarkable = unmarkable || code == kExitCompleteUnmarkable;
        retired = retired || code == kExitRetire;
    }
    if (failed) return kExitFailed;
    if (noDisk) return kExitNoDisk;
    if (cancelled) return kExitCancelled;
    if (unmarkable) return kExitCompleteUnmarkable;
    if (retired) return kExitRetire;
    return kExitComplete;
}

bool FindSticks(Machine& machine, const std::vector<std::string>& skip,
                std::vector<StationStick>* sticks) {
    std::vector<std::uint32_t> places;
    for (std::uint32_t place : machine.Places()) {
        const std::string node = machine.Port().PlaceName(place);
        if (std::find(skip.begin(), skip.end(), node) == skip.end()) places.push_back(place);
    }
    std::vector<std::unique_ptr<ReaderSession>> sessions;
    if (!OpenSessions(machine.Port(), places, &sessions)) return false;
    for (const auto& session : sessions) {
        const FoundUnit& unit = session->Units()[0];
        if (!IsFlashDiskKey(unit.key)) continue;
        StationStick stick;
        stick.place = unit.place;
        stick.identity = IdentityOfInquiry(unit.node, unit.inquiry);
        stick.identity.serial = machine.UsbSerial(unit.place);
        stick.identity.usbPort = machine.UsbPort(unit.place);
        ReaderDeviceAccess device(session->GetReader());
        const DiskState state = ProbeDisk(device, unit.key, false);
        stick.sizeText = !state.ready         ? "not ready"
                         : state.capacityRead ? SizeText(state.lastBlock + 1)
                                              : "not formatted";
        sticks->push_back(stick);
    }
    return true;
}

void LookCloser(Machine& machine, RunHistory& history, StationStick* stick) {
    if (const auto previous = history.Previous(stick->identity)) {
        stick->previousBad = previous->badBlocks;
    }
    ReaderSession session(machine.Port(), {stick->place});
    if (!session.Open() || session.Units().empty()) return;
    ReaderUnit disk(session.GetReader(), kMediaUsbDisk);
    stick->counterfeit = CounterfeitText(JudgeHealth(HealthFactsOfScan(LookWithoutBlocks(disk))));
}
