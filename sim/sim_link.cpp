#include "sim/sim_link.h"

#include <algorithm>
#include <chrono>
#include <thread>

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
    return next_.Execute(command);
}

Outcome SerialDecorator::Execute(const UnitCommand& command) {
    SimLockGuard hold(mutex_);
    return next_.Execute(command);
}

std::string TraceUnitName(const SimDevice& device, std::uint8_t lun) {
    if (!device.IsReader()) return device.Name();
    return device.Name() + " lun " + std::to_string(lun);
}

void TraceRecorder::Record(const UnitCommand& command, Outcome outcome) {
    TraceEntry entry;
    entry.device = TraceUnitName(command.device, command.lun);
    std::copy(command.cdb, command.cdb + 12, entry.cdb);
    entry.direction = command.direction;
    entry.length = command.length;
    entry.outcome = outcome;
    SimLockGuard hold(mutex_);
    if (keep_.load()) entries_.push_back(std::move(entry));
}

void TraceRecorder::Keep(bool keep) { keep_.store(keep); }

void TraceRecorder::Clear() {
    SimLockGuard hold(mutex_);
    entries_.clear();
}

Outcome TraceDecorator::Execute(const UnitCommand& command) {
    if (!recorder_.Active()) return next_.Execute(command);
    const Outcome outcome = next_.Execute(command);
    recorder_.Record(command, outcome);
    return outcome;
}

}  // namespace sim
