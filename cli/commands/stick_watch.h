#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands/station.h"
#include "cli/shared/cli_options.h"

class Machine;

// What the caller does with a stick that came while the machine it was found on is open (a
// closer look before its worker starts).
using MeetStick = std::function<void(Machine& machine, StationStick* stick)>;

// The platform's way of seeing this machine's own sticks come and go, one per platform. On Linux
// (stick_watch_linux.cpp) it looks when the kernel announces a change (UeventMonitor; every two
// seconds when it cannot listen), finds the candidates in sysfs and asks only those it has not
// met yet who they are: a stick is known by its USB device for as long as that device is there,
// through its runs and through a soft re-plug, so a stick, a foreign one too, is asked once when
// it comes and never while it sits there. On Windows (stick_watch_win32.cpp) nothing tells of
// a stick without asking it, so the readers not busy with a run are looked at every two seconds,
// as a simulated machine is, more slowly.
class HostWatch {
  public:
    explicit HostWatch(const CliOptions& options);
    ~HostWatch();
    HostWatch(const HostWatch&) = delete;
    HostWatch& operator=(const HostWatch&) = delete;

    // Whether it is time for a look (news from the system, or the time between looks; called
    // every 200 ms).
    bool Due();
    // False when the platform finds sticks by looking at the machine's readers (the caller then
    // does, as for a simulated machine).
    bool FindsSticks() const;
    // The sticks that came since the last look, when FindsSticks.
    bool Look(const MeetStick& meet, std::vector<StationStick>* arrived, std::string* error);
    bool StillThere(const std::string& node) const;
    // A descriptor that becomes readable when the system has news (-1: none).
    int NewsFd() const;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// What a watch sees of the sticks that come and go: on this machine as HostWatch sees them; a
// simulated machine (and, on Windows, this machine's readers) looked at afresh now and then, the
// nodes busy with a run left out, a node not there at the last look being new.
class StickWatch {
  public:
    explicit StickWatch(const CliOptions& options);

    // Whether it is time for a look (news from the system, or the time between looks).
    bool Due();
    using Meet = MeetStick;
    // The flash disks that came since the last look (all of them at the first look), each
    // handed to `meet` first (when given). `busy` names the nodes a worker holds. False with the
    // reason when the machine cannot be looked at.
    bool Look(const std::vector<std::string>& busy, const Meet& meet,
              std::vector<StationStick>* arrived, std::string* error);
    // Whether the stick a look found at `node` is still plugged in.
    bool StillThere(const std::string& node) const;
    // A descriptor that becomes readable when the system has news, so that a wait ends then
    // and the look comes at once (-1: none, as for a simulated machine).
    int NewsFd() const { return options_.simulate.empty() ? host_.NewsFd() : -1; }

  private:
    bool LookAtMachine(const std::vector<std::string>& busy, const Meet& meet,
                       std::vector<StationStick>* arrived, std::string* error);
    bool LooksAtMachine() const { return !options_.simulate.empty() || !host_.FindsSticks(); }

    CliOptions options_;
    HostWatch host_;
    int looksSkipped_ = 0;
    std::vector<std::string> present_;  // looking at the machine: the nodes of the last look
};
