#include "sim/sim_link.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "sim/scsi_codes.h"
#include "sim/sim_device.h"

namespace sim {

void SimLink::SetLatencyMicroseconds(std::uint32_t microseconds) {
    latencyMicroseconds_.store(microseconds, std::memory_order_relaxed);
}

std::uint32_t SimLink::LatencyMicroseconds() const {
    return latencyMicroseconds_.load(std::memory_order_relaxed);
}

void SimLink::UnplugAfterCommands(std::uint32_t count) { unplugAfter_.store(count); }
void SimLink::HangOnCommand(std::uint32_t n) { hangOn_.store(n); }
void SimLink::HangFromCommand(std::uint32_t n) { hangFrom_.store(n); }
void SimLink::FailOnCommand(std::uint32_t n, std::uint8_t senseKey, std::uint8_t asc,
                            std::uint8_t ascq, std::uint8_t additionalLength) {
    failSense_.store(std::uint32_t{additionalLength} << 24 | std::uint32_t{senseKey} << 16 |
                     std::uint32_t{asc} << 8 | ascq);
    failOn_.store(n);
}

bool SimLink::LockedUp() const { return lockedUp_.load(); }
void SimLink::ClearLockUp() { lockedUp_.store(false); }
bool SimLink::Plugged() const { return plugged_.load(); }
void SimLink::SetPlugged(bool plugged) { plugged_.store(plugged); }
std::uint64_t SimLink::Commands() const { return commands_.load(std::memory_order_relaxed); }

bool SimLink::CountDown(std::atomic<std::uint32_t>& counter) {
    std::uint32_t value = counter.load(std::memory_order_relaxed);
    while (value != 0) {
        if (counter.compare_exchange_weak(value, value - 1)) return value == 1;
    }
    return false;
}

Outcome DeviceTarget::Execute(const UnitCommand& command) {
    return command.device.Execute(command.lun, command.cdb, command.direction, command.buffer,
                                  command.length);
}

Outcome UnplugDecorator::Execute(const UnitCommand& command) {
    if (!link_.Plugged()) return Outcome::NoDevice;
    const Outcome outcome = next_.Execute(command);
    if (outcome == Outcome::NoDevice) return outcome;
    link_.commands_.fetch_add(1, std::memory_order_relaxed);
    if (SimLink::CountDown(link_.unplugAfter_)) link_.SetPlugged(false);
    return outcome;
}

Outcome LatencyDecorator::Execute(const UnitCommand& command) {
    const std::uint32_t microseconds = link_.LatencyMicroseconds();
    if (microseconds > 0) std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
    return next_.Execute(command);
}

Outcome HangDecorator::Execute(const UnitCommand& command) {
    if (SimLink::CountDown(link_.hangOn_)) return Outcome::Hung;
    if (link_.LockedUp()) return Outcome::Hung;
    if (SimLink::CountDown(link_.hangFrom_)) {
        link_.lockedUp_.store(true);
        return Outcome::Hung;
    }
    return next_.Execute(command);
}

Outcome FailDecorator::Execute(const UnitCommand& command) {
    if (SimLink::CountDown(link_.failOn_)) {
        pending_ = true;
        pendingLun_ = command.lun;
        pendingSense_ = link_.failSense_.load();
        return Outcome::CheckCondition;
    }
    if (pending_ && command.lun == pendingLun_ && command.cdb[0] != kOpInquiry) {
        pending_ = false;
        if (command.cdb[0] == kOpRequestSense && command.direction == Direction::In) {
            SenseBytes sense =
                FormatSense(SenseCode{static_cast<std::uint8_t>(pendingSense_ >> 16 & 0x0F),
                                      static_cast<std::uint8_t>(pendingSense_ >> 8),
                                      static_cast<std::uint8_t>(pendingSense_)});
            sense[7] = static_cast<std::uint8_t>(pendingSense_ >> 24);  // the length it states
            std::copy(sense.begin(),
                      sense.begin() + std::min<std::uint32_t>(command.length, kSenseBytes),
                      command.buffer);
            return Outcome::Good;
        }
    }
    return next_.Execute(command);
}

Outcome SerialDecorator::Execute(const UnitCommand& command) {
    SimLockGuard hold(mutex_);
    return next_.Execute(command);
}

}  // namespace sim
