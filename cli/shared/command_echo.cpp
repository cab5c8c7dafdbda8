#include "cli/shared/command_echo.h"

#include "cli/shared/messages.h"
#include "reader/sense.h"

namespace {

// The reader's commands by their first byte, as a person reading the echo would name them.
const char* CommandNameOf(std::uint8_t code) {
    switch (code) {
        case 0x00:
            return "TEST UNIT READY";
        case 0x03:
            return "REQUEST SENSE";
        case 0x12:
            return "INQUIRY";
        case 0x1B:
            return "START STOP UNIT";
        case 0x25:
            return "READ CAPACITY";
        case 0x28:
            return "READ(10)";
        case 0x2A:
            return "WRITE(10)";
        case 0xC1:
            return "FILL PATTERN";
        case 0xC2:
            return "BANK COUNT";
        case 0xC3:
            return "CIS PAGE NUMBER";
        case 0xE8:
            return "READ PAGE+SPARE";
        case 0xE9:
            return "WRITE PAGE+SPARE";
        case 0xF1:
            return "MARK BAD";
        case 0xF2:
            return "ERASE";
        case 0xF3:
            return "READ REDUNDANT";
        case 0xF7:
            return "DEVICE CODE";
        case 0xFA:
            return "READ BLOCK";
        case 0xFB:
            return "SELECT BANK";
        default:
            break;
    }
    return "VENDOR";
}

std::string OutcomeText(const CommandOutcome& outcome) {
    switch (outcome.status) {
        case CommandStatus::Good:
            return "good";
        case CommandStatus::CheckCondition: {
            // Only the fields the sense that came reaches: "6/29/00", "3/11/--", "2/--/--".
            const SenseFields fields = DecodeSense(outcome.sense.data(), outcome.senseLength);
            if (!fields.keyKnown) return "check condition";
            char asc[4] = "--", ascq[4] = "--";
            if (fields.ascKnown) std::snprintf(asc, sizeof asc, "%02X", fields.asc);
            if (fields.ascqKnown) std::snprintf(ascq, sizeof ascq, "%02X", fields.ascq);
            char text[48];
            std::snprintf(text, sizeof text, "check condition, sense %X/%s/%s", fields.key, asc,
                          ascq);
            return text;
        }
        case CommandStatus::Failed:
            return "failed";
        case CommandStatus::NoDevice:
            return "no device";
        case CommandStatus::TimedOut:
            return "timed out";
        case CommandStatus::Refused:
            return "not sent";
        case CommandStatus::HostError:
            return "host error (the way to the device failed)";
    }
    return "?";
}

}  // namespace

std::string CommandEchoLine(const std::string& node, const std::uint8_t* cdb,
                            std::uint8_t cdbLength, DataPhase phase, std::uint32_t length,
                            const CommandOutcome& outcome) {
    std::string line = node + ": " + CommandNameOf(cdbLength > 0 ? cdb[0] : 0xFF);
    char hex[4];
    for (std::uint8_t i = 0; i < cdbLength; ++i) {
        std::snprintf(hex, sizeof hex, " %02X", cdb[i]);
        line += hex;
    }
    if (phase != DataPhase::None) {
        line += phase == DataPhase::In ? " in " : " out ";
        line += std::to_string(length);
    }
    return line + ": " + OutcomeText(outcome);
}

CommandOutcome CommandEchoPort::Execute(const PortAddress& address, const std::uint8_t* cdb,
                                        std::uint8_t cdbLength, DataPhase phase, void* buffer,
                                        std::uint32_t length, std::uint16_t timeoutSeconds) {
    const CommandOutcome outcome =
        ForwardingPort::Execute(address, cdb, cdbLength, phase, buffer, length, timeoutSeconds);
    Note(out_, CommandEchoLine(PlaceName(address.place), cdb, cdbLength, phase, length, outcome));
    return outcome;
}
