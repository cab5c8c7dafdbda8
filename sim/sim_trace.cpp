#include "sim/sim_trace.h"

#include <algorithm>
#include <cstdio>

#include "sim/sim_device.h"

namespace sim {

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
