#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "cli/commands/stick_watch.h"
#include "cli/shared/machine.h"
#include "reader/linux/sgio_nodes.h"

namespace {

// Looks at a simulated machine every this many calls of Due (the watch calls it every 200 ms);
// on this machine without the kernel's announcements, every this many times ten.
constexpr int kSimulatedLookEvery = 3;
constexpr int kUnheardLookEvery = 10;

bool Exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

}  // namespace

StickWatch::StickWatch(const CliOptions& options) : options_(options) {}

bool StickWatch::Due() {
    if (!options_.simulate.empty()) return ++looksSkipped_ % kSimulatedLookEvery == 0;
    if (uevents_.Listening()) return uevents_.Changed();
    return ++looksSkipped_ % kUnheardLookEvery == 0;
}

bool StickWatch::Look(const std::vector<std::string>& busy, const Meet& meet,
                      std::vector<StationStick>* arrived, std::string* error) {
    return options_.simulate.empty() ? LookAtSysfs(meet, arrived, error)
                                     : LookAtSimulation(busy, meet, arrived, error);
}

bool StickWatch::StillThere(const std::string& node) const {
    if (!options_.simulate.empty()) {
        return std::find(present_.begin(), present_.end(), node) != present_.end();
    }
    const auto key = keyOfNode_.find(node);
    return key != keyOfNode_.end() && known_.count(key->second) != 0;
}

bool StickWatch::LookAtSysfs(const Meet& meet, std::vector<StationStick>* arrived,
                             std::string* error) {
    if (::geteuid() != 0) {
        int exitCode = 0;
        Machine::Open(options_, &exitCode);  // says why
        error->clear();
        return false;
    }
    // A stick pulled out is forgotten: what comes next at its port is new.
    for (auto it = known_.begin(); it != known_.end();) {
        it = Exists(it->first) ? std::next(it) : known_.erase(it);
    }
    for (const std::string& node : FindStickNodes()) {
        const std::string usb = UsbDeviceOfNode(node);
        const std::string key = usb.empty() ? node : usb;
        if (known_.count(key) != 0) continue;
        known_[key] = true;
        // Who it is: asked once, over its node alone.
        CliOptions one = options_;
        one.device = node;
        int exitCode = 0;
        auto machine = Machine::Open(one, &exitCode);
        if (!machine) continue;  // gone again already, or not a node after all
        std::vector<StationStick> found;
        if (!FindSticks(*machine, {}, &found)) {
            *error = "the SCSI transport cannot start";
            return false;
        }
        for (StationStick& stick : found) {
            keyOfNode_[stick.identity.node] = key;
            if (meet) meet(*machine, &stick);
            arrived->push_back(stick);
        }
    }
    return true;
}

bool StickWatch::LookAtSimulation(const std::vector<std::string>& busy, const Meet& meet,
                                  std::vector<StationStick>* arrived, std::string* error) {
    // A fresh look at the simulated machine's nodes: sticks plugged in get nodes of their own.
    int exitCode = 0;
    auto machine = Machine::Open(options_, &exitCode);
    if (!machine) {
        *error = "the simulated machine cannot be looked at";
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
