#include "cli/commands/stick_watch.h"

namespace {

// A look at the readers every this many calls of Due (every two seconds): each look asks every
// reader not busy with a run who it is (an INQUIRY, all a foreign drive is ever sent).
constexpr int kLookEvery = 10;

}  // namespace

struct HostWatch::State {
    int looksSkipped = 0;
};

HostWatch::HostWatch(const CliOptions& /*options*/) : state_(new State) {}

HostWatch::~HostWatch() = default;

bool HostWatch::Due() { return ++state_->looksSkipped % kLookEvery == 0; }

bool HostWatch::FindsSticks() const { return false; }

bool HostWatch::Look(const MeetStick& /*meet*/, std::vector<StationStick>* /*arrived*/,
                     std::string* error) {
    *error = "the watch looks at the readers themselves";
    return false;
}

bool HostWatch::StillThere(const std::string& /*node*/) const { return false; }

int HostWatch::NewsFd() const { return -1; }
