#include "cli/commands/stick_watch.h"

#include <algorithm>

#include "cli/shared/machine.h"

namespace {

// Looks at a simulated machine every this many calls of Due (the watch calls it every 200 ms).
constexpr int kSimulatedLookEvery = 3;

}  // namespace

StickWatch::StickWatch(const CliOptions& options) : options_(options), host_(options) {}

bool StickWatch::Due() {
    if (!options_.simulate.empty()) return ++looksSkipped_ % kSimulatedLookEvery == 0;
    return host_.Due();
}

bool StickWatch::Look(const std::vector<std::string>& busy, const Meet& meet,
                      std::vector<StationStick>* arrived, std::string* error) {
    return LooksAtMachine() ? LookAtMachine(busy, meet, arrived, error)
                            : host_.Look(meet, arrived, error);
}

bool StickWatch::StillThere(const std::string& node) const {
    if (!LooksAtMachine()) return host_.StillThere(node);
    return std::find(present_.begin(), present_.end(), node) != present_.end();
}

bool StickWatch::LookAtMachine(const std::vector<std::string>& busy, const Meet& meet,
                               std::vector<StationStick>* arrived, std::string* error) {
    // A fresh look at the machine's nodes: sticks plugged in get nodes of their own.
    int exitCode = 0;
    auto machine = Machine::Open(options_, &exitCode);
    if (!machine) {
        *error = options_.simulate.empty() ? std::string()  // Open said why
                                           : "the simulated machine cannot be looked at";
        return false;
    }
    std::vector<StationStick> found;
    if (!FindSticks(*machine, busy, &found)) {
        *error = "the SCSI transport cannot start";
        return false;
    }
    std::vector<std::string> now = busy;
    for (StationStick& stick : found) {
        const std::string& node = stick.identity.node;
        now.push_back(node);
        if (std::find(present_.begin(), present_.end(), node) == present_.end()) {
            if (meet) meet(*machine, &stick);
            arrived->push_back(stick);
        }
    }
    present_ = now;
    return true;
}
