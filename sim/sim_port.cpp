#include "sim/sim_port.h"

#include <cstring>

#include "sim/scsi_codes.h"

namespace sim {

SimPort::SimPort(SimBus& bus, bool senseWithStatus) : bus_(bus), senseWithStatus_(senseWithStatus) {
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        if (bus_.UnitOfDrive(letter) != nullptr) letters_ += letter;
    }
}

std::string SimPort::NodeName(char letter) { return std::string("sim:") + letter; }

std::uint32_t SimPort::PlaceCount() const { return static_cast<std::uint32_t>(letters_.size()); }

char SimPort::LetterOf(std::uint32_t place) const {
    return place < letters_.size() ? letters_[place] : '\0';
}

std::string SimPort::PlaceName(std::uint32_t place) const {
    const char letter = LetterOf(place);
    return letter != '\0' ? NodeName(letter) : std::string();
}

bool SimPort::Open(std::uint32_t place) {
    const char letter = LetterOf(place);
    return letter != '\0' && bus_.HasDrive(letter);
}

void SimPort::Close(std::uint32_t) {}

CommandOutcome SimPort::Execute(const PortAddress& address, const std::uint8_t* cdb,
                                std::uint8_t cdbLength, DataPhase phase, void* buffer,
                                std::uint32_t length, std::uint16_t) {
    CommandOutcome outcome;
    const char letter = LetterOf(address.place);
    if (letter == '\0' || address.lun != 0 || cdbLength < kMinCommandLength ||
        cdbLength > kMaxCommandLength || (length != 0 && buffer == nullptr)) {
        return outcome;  // refused
    }
    std::uint8_t block[12] = {};
    std::memcpy(block, cdb, cdbLength);
    Direction direction = Direction::None;
    if (length != 0 && phase == DataPhase::In) direction = Direction::In;
    if (length != 0 && phase == DataPhase::Out) direction = Direction::Out;
    if (direction == Direction::None) length = 0;

    switch (
        bus_.ExecuteDrive(letter, block, direction, static_cast<std::uint8_t*>(buffer), length)) {
        case Outcome::Good:
            outcome.status = CommandStatus::Good;
            outcome.transferred = length;
            return outcome;
        case Outcome::NoDevice:
            outcome.status = CommandStatus::NoDevice;
            return outcome;
        case Outcome::Hung:
            outcome.status = CommandStatus::TimedOut;
            return outcome;
        case Outcome::CheckCondition:
            break;
    }
    outcome.status = CommandStatus::CheckCondition;
    if (!senseWithStatus_) return outcome;
    std::uint8_t requestSense[12] = {kOpRequestSense, 0, 0, 0, kSenseBytes};
    std::uint8_t sense[kSenseBytes] = {};
    if (bus_.ExecuteDrive(letter, requestSense, Direction::In, sense, sizeof sense) ==
        Outcome::Good) {
        std::memcpy(outcome.sense.data(), sense, sizeof sense);
        outcome.senseLength = kSenseBytes;
    }
    return outcome;
}

}  // namespace sim
