#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "cli/commands/station.h"
#include "cli/output/progress_view.h"
#include "cli/output/run_history.h"
#include "cli/output/size_text.h"
#include "cli/output/verdict_text.h"
#include "cli/shared/exit_codes.h"
#include "cli/shared/machine.h"
#include "cli/shared/messages.h"
#include "cli/shared/monotonic_clock.h"
#include "cli/shared/reader_session.h"
#include "cli/shared/stop_signal_set.h"
#include "cli/shared/stop_signals.h"
#include "format/device_access.h"
#include "format/disk_probe.h"
#include "format/health_scan.h"

namespace {

// A worker's last lines on standard error kept for the table, and how long one may be.
constexpr std::size_t kWordsKept = 8;
constexpr std::size_t kLongestWord = 400;

std::string Stamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

// "disk.img" with "-sim_E" before its extension: one file of each stick.
std::string PerStick(const std::string& path, const std::string& stick) {
    if (path.empty()) return path;
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot == (slash == std::string::npos ? 0 : slash + 1)) {
        return path + "-" + stick;
    }
    return path.substr(0, dot) + "-" + stick + path.substr(dot);
}

std::string ProgramPath() {
    char path[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string("brevant");
}

// Takes the whole lines of `bytes` out of `pending` to `take`. A worker gone mad cannot make
// the parent hold a line without end: no event is near this long.
template <typename Take>
void TakeLines(std::string* pending, const char* bytes, std::size_t count, Take take) {
    pending->append(bytes, count);
    for (std::size_t end = pending->find('\n'); end != std::string::npos;
         end = pending->find('\n')) {
        take(pending->substr(0, end));
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

// Reads what is there on one of a worker's pipes; closes it at its end.
template <typename Take>
void ReadPipe(int* fd, std::string* pending, Take take) {
    char buffer[4096];
    const ssize_t n = ::read(*fd, buffer, sizeof buffer);
    if (n > 0) {
        TakeLines(pending, buffer, static_cast<std::size_t>(n), take);
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        ::close(*fd);
        *fd = -1;
    }
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
    : options_(options), settingsPath_(settingsPath), program_(ProgramPath()) {}

std::string Station::UniqueFileName(const DeviceIdentity& identity) {
    const std::string base = StickFileName(identity);
    std::string name = base;
    for (int n = 2; namesTaken_.count(name) != 0; ++n) name = base + "-" + std::to_string(n);
    namesTaken_.insert(name);
    return name;
}

std::vector<std::string> Station::WorkerArguments(const StationStick& stick) const {
    const std::string& name = stick.fileName;
    std::vector<std::string> args = {program_,     "format",   "--yes",
                                     "--quiet",    "--device", stick.identity.node,
                                     "--progress", "json"};
    // The format's own switches as the parent was given them (the option table says which).
    args.insert(args.end(), options_.workerArguments.begin(), options_.workerArguments.end());
    // A shop's sticks come back from their runs as the system will see them from now on.
    if (!options_.noReplug) args.push_back("--replug");
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
        const std::string base = options_.reportDir + "/" + stick->fileName + "-" + Stamp();
        stick->reportFile = base + ".json";
        // A name that is there in any form (a link planted there too) is taken.
        struct stat there = {};
        for (int n = 2; ::lstat(stick->reportFile.c_str(), &there) == 0; ++n) {
            stick->reportFile = base + "-" + std::to_string(n) + ".json";
        }
    }
    const std::vector<std::string> args = WorkerArguments(*stick);
    int status[2];
    int words[2];
    if (::pipe2(status, O_CLOEXEC) != 0) {
        *error = std::string("no pipe for a worker: ") + std::strerror(errno);
        return false;
    }
    if (::pipe2(words, O_CLOEXEC) != 0) {
        *error = std::string("no pipe for a worker: ") + std::strerror(errno);
        ::close(status[0]);
        ::close(status[1]);
        return false;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        *error = std::string("no worker process: ") + std::strerror(errno);
        for (int fd : {status[0], status[1], words[0], words[1]}) ::close(fd);
        return false;
    }
    if (pid == 0) {
        // The worker: its events (--progress json, on its standard output) and its words
        // (warnings, errors) to the parent; its report and log hold the rest. It is stopped by
        // the parent alone: a group of its own keeps the terminal's Ctrl-C from it, and whatever
        // the parent did with the stop signals it starts with them as they should be.
        ::setpgid(0, 0);
        ResetStopSignalsForChild();
        ::dup2(status[1], STDOUT_FILENO);
        ::dup2(words[1], STDERR_FILENO);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, STDIN_FILENO);
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(program_.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(status[1]);
    ::close(words[1]);
    stick->pid = pid;
    stick->statusFd = status[0];
    stick->wordsFd = words[0];
    stick->started = MonotonicSeconds();
    return true;
}

void Station::Follow(std::vector<StationStick>& sticks, int milliseconds, int wake) {
    std::vector<pollfd> fds;
    std::vector<StationStick*> owners;
    for (StationStick& stick : sticks) {
        for (int fd : {stick.statusFd, stick.wordsFd}) {
            if (fd < 0) continue;
            fds.push_back(pollfd{fd, POLLIN, 0});
            owners.push_back(&stick);
        }
    }
    if (wake >= 0) fds.push_back(pollfd{wake, POLLIN, 0});  // the last, with no owner
    if (!fds.empty()) {
        ::poll(fds.data(), fds.size(), milliseconds);
    } else if (milliseconds > 0) {
        ::usleep(static_cast<useconds_t>(milliseconds) * 1000u);
    }
    const bool echo = options_.verbosity >= 1;
    for (std::size_t i = 0; i < owners.size(); ++i) {
        if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        StationStick* stick = owners[i];
        if (fds[i].fd == stick->statusFd) {
            ReadPipe(&stick->statusFd, &stick->pending,
                     [stick](const std::string& line) { ReadProgressEvent(line, &stick->status); });
        } else {
            ReadPipe(&stick->wordsFd, &stick->wordsPending,
                     [stick, echo](const std::string& line) { KeepWord(stick, line, echo); });
        }
    }
    for (StationStick& stick : sticks) {
        if (stick.pid <= 0 || stick.exited) continue;
        int status = 0;
        rusage usage{};
        if (::wait4(stick.pid, &status, WNOHANG, &usage) != stick.pid) continue;
        stick.exited = true;
        stick.seconds = MonotonicSeconds() - stick.started;
        stick.peakKiB = usage.ru_maxrss;
        stick.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
}

void Station::StopAll(std::vector<StationStick>& sticks) {
    for (StationStick& stick : sticks) {
        if (stick.pid > 0 && !stick.exited) ::kill(stick.pid, SIGINT);
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
