#pragma once
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands/station.h"
#include "cli/shared/cli_options.h"
#include "cli/shared/uevent_monitor.h"

class Machine;

// What a watch sees of the sticks that come and go. On this machine it looks when the kernel
// announces a change (UeventMonitor; every two seconds when it cannot listen), finds the
// candidates in sysfs (FindStickNodes) and asks only those it has not met yet who they are: a
// stick is known by its USB device for as long as that device is there, through its runs and
// through a soft re-plug, so a stick, a foreign one too, is asked once when it comes and never
// while it sits there. A simulated machine is looked at afresh every 600 ms, as before.
class StickWatch {
  public:
    explicit StickWatch(const CliOptions& options);

    // Whether it is time for a look (news from the kernel, or the time between looks).
    bool Due();
    // What the caller does with a stick that came while the machine it was found on is open
    // (a closer look before its worker starts).
    using Meet = std::function<void(Machine& machine, StationStick* stick)>;
    // The flash disks that came since the last look (all of them at the first look), each
    // handed to `meet` first (when given). `busy` names the nodes a worker holds. False with the
    // reason when the machine cannot be looked at.
    bool Look(const std::vector<std::string>& busy, const Meet& meet,
              std::vector<StationStick>* arrived, std::string* error);
    // Whether the stick a look found at `node` is still plugged in.
    bool StillThere(const std::string& node) const;
    // Whether the kernel's announcements are heard (else it looks every two seconds).
    bool Listening() const { return uevents_.Listening(); }
    // A descriptor that becomes readable when the kernel has news, so that a wait ends then
    // and the look comes at once (-1: none, as for a simulated machine).
    int NewsFd() const { return options_.simulate.empty() ? uevents_.Fd() : -1; }

  private:
    bool LookAtSysfs(const Meet& meet, std::vector<StationStick>* arrived, std::string* error);
    bool LookAtSimulation(const std::vector<std::string>& busy, const Meet& meet,
                          std::vector<StationStick>* arrived, std::string* error);

    CliOptions options_;
    UeventMonitor uevents_;
    int looksSkipped_ = 0;
    // What a stick is known by (its USB device's sysfs folder, else its node) for each key met,
    // and the key of each node a look reported.
    std::map<std::string, bool> known_;
    std::map<std::string, std::string> keyOfNode_;
    std::vector<std::string> present_;  // simulated: the nodes of the last look
};
