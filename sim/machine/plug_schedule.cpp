#include "sim/machine/plug_schedule.h"

#include <chrono>

namespace sim {

PlugSchedule::PlugSchedule(SimBus& bus) : bus_(bus) {
    const auto start = std::chrono::steady_clock::now();
    clock_ = [start] {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - start)
                                              .count());
    };
}

void PlugSchedule::Add(std::size_t reader, bool plugIn, SimBus::PlugMoment when) {
    SimLockGuard hold(mutex_);
    events_.push_back(Event{reader, plugIn, when, false});
    Arm();
}

void PlugSchedule::SetClock(std::function<std::uint64_t()> nowMilliseconds) {
    SimLockGuard hold(mutex_);
    clock_ = std::move(nowMilliseconds);
    origin_ = clock_();
    nextPoll_ = 0;
}

void PlugSchedule::Follow(const std::string& folder, std::uint32_t pollMilliseconds) {
    SimLockGuard hold(mutex_);
    control_.reset(new ControlFolder(bus_, folder));
    pollMilliseconds_ = pollMilliseconds;
    nextPoll_ = 0;
    Arm();
}

void PlugSchedule::Arm() {
    bool pending = control_ != nullptr;
    for (const Event& event : events_) pending = pending || !event.done;
    armed_.store(pending);
}

bool PlugSchedule::Due(const Event& event, std::uint64_t now) const {
    if (event.when.kind == SimBus::PlugMoment::Kind::Commands) {
        return bus_.ReaderCommandCount() >= event.when.value;
    }
    return now >= event.when.value;
}

void PlugSchedule::RunDue() {
    if (!armed_.load(std::memory_order_relaxed)) return;
    SimLockGuard hold(mutex_);
    const std::uint64_t now = clock_() - origin_;
    for (Event& event : events_) {
        if (event.done || !Due(event, now)) continue;
        event.done = true;
        if (event.reader == SimBus::kWholeMachine) {
            if (event.plugIn) {
                bus_.Replug();
            } else {
                bus_.Unplug();
            }
        } else if (event.plugIn) {
            bus_.ReplugReader(event.reader);
        } else {
            bus_.UnplugReader(event.reader);
        }
    }
    if (control_ && now >= nextPoll_) {
        control_->Poll();
        nextPoll_ = now + pollMilliseconds_;
    }
    Arm();
}

}  // namespace sim
