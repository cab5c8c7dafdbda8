#include <unistd.h>

#include <filesystem>
#include <map>

#include "cli/commands/stick_watch.h"
#include "cli/shared/machine.h"
#include "cli/shared/uevent_monitor.h"
#include "reader/linux/sgio_nodes.h"

namespace {

// Without the kernel's announcements, a look every this many calls of Due (every two seconds).
constexpr int kUnheardLookEvery = 10;

bool Exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

}  // namespace

struct HostWatch::State {
    CliOptions options;
    UeventMonitor uevents;
    int looksSkipped = 0;
    // What a stick is known by (its USB device's sysfs folder, else its node) for each key met,
    // and the key of each node a look reported.
    std::map<std::string, bool> known;
    std::map<std::string, std::string> keyOfNode;
};

HostWatch::HostWatch(const CliOptions& options) : state_(new State) { state_->options = options; }

HostWatch::~HostWatch() = default;

bool HostWatch::Due() {
    if (state_->uevents.Listening()) return state_->uevents.Changed();
    return ++state_->looksSkipped % kUnheardLookEvery == 0;
}

bool HostWatch::FindsSticks() const { return true; }

int HostWatch::NewsFd() const { return state_->uevents.Fd(); }

bool HostWatch::StillThere(const std::string& node) const {
    const auto key = state_->keyOfNode.find(node);
    return key != state_->keyOfNode.end() && state_->known.count(key->second) != 0;
}

bool HostWatch::Look(const MeetStick& meet, std::vector<StationStick>* arrived,
                     std::string* error) {
    State& state = *state_;
    if (::geteuid() != 0) {
        int exitCode = 0;
        Machine::Open(state.options, &exitCode);  // says why
        error->clear();
        return false;
    }
    // A stick pulled out is forgotten: what comes next at its port is new.
    for (auto it = state.known.begin(); it != state.known.end();) {
        it = Exists(it->first) ? std::next(it) : state.known.erase(it);
    }
    for (const std::string& node : FindStickNodes()) {
        const std::string usb = UsbDeviceOfNode(node);
        const std::string key = usb.empty() ? node : usb;
        if (state.known.count(key) != 0) continue;
        state.known[key] = true;
        // Who it is: asked once, over its node alone.
        CliOptions one = state.options;
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
            state.keyOfNode[stick.identity.node] = key;
            if (meet) meet(*machine, &stick);
            arrived->push_back(stick);
        }
    }
    return true;
}
