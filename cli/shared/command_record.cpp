#include "cli/shared/command_record.h"

namespace {

const char* StatusName(CommandStatus status) {
    switch (status) {
        case CommandStatus::Good:
            return "good";
        case CommandStatus::CheckCondition:
            return "check-condition";
        case CommandStatus::Failed:
            return "failed";
        case CommandStatus::NoDevice:
            return "no-device";
        case CommandStatus::HostError:
            return "host-error";
        case CommandStatus::TimedOut:
        case CommandStatus::Refused:
            break;
    }
    return "timed-out";
}

}  // namespace

std::string CommandRecordLine(const std::string& node, const std::uint8_t* cdb,
                              std::uint8_t cdbLength, DataPhase phase, std::uint32_t length,
                              CommandStatus status) {
    std::string line = node + ":";
    char hex[4];
    for (std::uint8_t i = 0; i < kMaxCommandLength; ++i) {
        std::snprintf(hex, sizeof hex, " %02X", i < cdbLength ? cdb[i] : 0);
        line += hex;
    }
    if (phase == DataPhase::None || length == 0) {
        line += " none 0 ";
    } else {
        line += phase == DataPhase::In ? " in " : " out ";
        line += std::to_string(length) + " ";
    }
    return line + StatusName(status);
}

CommandRecordPort::~CommandRecordPort() { Finish(); }

bool CommandRecordPort::Finish() {
    if (out_ == nullptr) return !failed_;
    failed_ = std::fclose(out_) != 0 || failed_;
    out_ = nullptr;
    return !failed_;
}

CommandOutcome CommandRecordPort::Execute(const PortAddress& address, const std::uint8_t* cdb,
                                          std::uint8_t cdbLength, DataPhase phase, void* buffer,
                                          std::uint32_t length, std::uint16_t timeoutSeconds) {
    const CommandOutcome outcome =
        ForwardingPort::Execute(address, cdb, cdbLength, phase, buffer, length, timeoutSeconds);
    // A command the port refused never left the machine: there is nothing to record.
    if (out_ != nullptr && outcome.status != CommandStatus::Refused) {
        const std::string line = CommandRecordLine(PlaceName(address.place), cdb, cdbLength, phase,
                                                   length, outcome.status) +
                                 "\n";
        // Unbuffered in effect: a run that is killed leaves every line of what it sent.
        failed_ = std::fputs(line.c_str(), out_) < 0 || std::fflush(out_) != 0 || failed_;
    }
    return outcome;
}
