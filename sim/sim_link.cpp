#include "sim/sim_link.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
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

namespace {

constexpr std::uint8_t kRequestSense = 0x03;
constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint32_t kFixedSenseBytes = 18;

}  // namespace

Outcome FailDecorator::Execute(const UnitCommand& command) {
    if (SimLink::CountDown(link_.failOn_)) {
        pending_ = true;
        pendingLun_ = command.lun;
        pendingSense_ = link_.failSense_.load();
        return Outcome::CheckCondition;
    }
    if (pending_ && command.lun == pendingLun_ && command.cdb[0] != kInquiry) {
        pending_ = false;
        if (command.cdb[0] == kRequestSense && command.direction == Direction::In) {
            std::uint8_t sense[kFixedSenseBytes] = {};
            sense[0] = 0x70;
            sense[2] = static_cast<std::uint8_t>(pendingSense_ >> 16 & 0x0F);
            sense[7] = static_cast<std::uint8_t>(pendingSense_ >> 24);
            sense[12] = static_cast<std::uint8_t>(pendingSense_ >> 8);
            sense[13] = static_cast<std::uint8_t>(pendingSense_);
            std::copy(sense, sense + std::min(command.length, kFixedSenseBytes), command.buffer);
            return Outcome::Good;
        }
    }
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

namespace {

const char* DirectionName(Direction direction) {
    switch (direction) {
        case Direction::In:
            return "in";
        case Direction::Out:
            return "out";
        default:
            return "none";
    }
}

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::Good:
            return "good";
        case Outcome::CheckCondition:
            return "check-condition";
        case Outcome::NoDevice:
            return "no-device";
        default:
            return "hung";
    }
}

}  // namespace

std::string FormatTraceLine(const TraceEntry& entry) {
    std::string line = entry.device + ":";
    char hex[4];
    for (std::uint8_t byte : entry.cdb) {
        std::snprintf(hex, sizeof hex, " %02X", byte);
        line += hex;
    }
    line += " ";
    line += DirectionName(entry.direction);
    line += " " + std::to_string(entry.length) + " ";
    line += OutcomeName(entry.outcome);
    return line;
}

TraceRecorder::~TraceRecorder() { EndStream(); }

void TraceRecorder::Record(const UnitCommand& command, Outcome outcome) {
    TraceEntry entry;
    entry.device = TraceUnitName(command.device, command.lun);
    std::copy(command.cdb, command.cdb + 12, entry.cdb);
    entry.direction = command.direction;
    entry.length = command.length;
    entry.outcome = outcome;
    SimLockGuard hold(mutex_);
    if (stream_ != nullptr) WriteLine(FormatTraceLine(entry));
    if (keep_) entries_.push_back(std::move(entry));
}

void TraceRecorder::Note(const std::string& line) {
    SimLockGuard hold(mutex_);
    if (stream_ != nullptr) WriteLine(line);
}

void TraceRecorder::WriteLine(const std::string& text) {
    const std::string line = text + "\n";
    if (std::fwrite(line.data(), 1, line.size(), stream_) != line.size()) streamFailed_ = true;
    if (streamEachLine_ && std::fflush(stream_) != 0) streamFailed_ = true;
}

void TraceRecorder::UpdateActive() { active_.store(keep_ || stream_ != nullptr); }

void TraceRecorder::Keep(bool keep) {
    SimLockGuard hold(mutex_);
    keep_ = keep;
    UpdateActive();
}

void TraceRecorder::Clear() {
    SimLockGuard hold(mutex_);
    entries_.clear();
}

bool TraceRecorder::StreamTo(const std::string& path, std::string* error, bool eachLine) {
    EndStream();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        if (error) *error = "cannot create " + path;
        return false;
    }
    StreamTo(file, eachLine);
    return true;
}

void TraceRecorder::StreamTo(std::FILE* file, bool eachLine) {
    EndStream();
    std::setvbuf(file, nullptr, _IOFBF, 1 << 16);
    SimLockGuard hold(mutex_);
    stream_ = file;
    streamEachLine_ = eachLine;
    streamFailed_ = false;
    UpdateActive();
}

bool TraceRecorder::EndStream() {
    SimLockGuard hold(mutex_);
    if (stream_ == nullptr) return true;
    bool written = !streamFailed_ && std::fflush(stream_) == 0;
    written = std::fclose(stream_) == 0 && written;
    stream_ = nullptr;
    UpdateActive();
    return written;
}

Outcome TraceDecorator::Execute(const UnitCommand& command) {
    if (!recorder_.Active()) return next_.Execute(command);
    const Outcome outcome = next_.Execute(command);
    recorder_.Record(command, outcome);
    return outcome;
}

}  // namespace sim
