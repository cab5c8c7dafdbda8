#include "sim/sim_port.h"

#include <algorithm>
#include <cstring>

#include "sim/scsi_codes.h"
#include "sim/sim_device.h"

namespace sim {

SimPort::SimPort(SimBus& bus, bool senseWithStatus) : bus_(bus), senseWithStatus_(senseWithStatus) {
    std::vector<Place> lettered;
    std::vector<Place> others;
    for (std::size_t d = 0; d < bus_.DeviceCount(); ++d) {
        SimDevice& device = *bus_.Device(d);
        for (std::size_t lun = 0; lun < device.UnitCount(); ++lun) {
            const SimUnit& unit = *device.Unit(lun);
            Place place{std::string(), &device, static_cast<std::uint8_t>(lun)};
            if (!unit.NodeName().empty()) {
                place.name = "sim:" + unit.NodeName();
                others.push_back(place);
            } else if (unit.DriveLetter() != 0) {
                place.name = NodeName(unit.DriveLetter());
                lettered.push_back(place);
            } else {
                place.name = "sim:" + std::to_string(device.Adapter()) + ":" +
                             std::to_string(device.Target()) + ":" + std::to_string(lun);
                others.push_back(place);
            }
        }
    }
    std::stable_sort(lettered.begin(), lettered.end(),
                     [](const Place& a, const Place& b) { return a.name < b.name; });
    places_ = std::move(lettered);
    places_.insert(places_.end(), others.begin(), others.end());
}

std::string SimPort::NodeName(char letter) { return std::string("sim:") + letter; }

std::uint32_t SimPort::FindPlace(const std::string& name) const {
    for (std::size_t i = 0; i < places_.size(); ++i) {
        if (places_[i].name == name) return static_cast<std::uint32_t>(i);
    }
    for (std::size_t i = 0; i < places_.size(); ++i) {
        const char letter = places_[i].device->Unit(places_[i].lun)->DriveLetter();
        if (letter != 0 && NodeName(letter) == name) return static_cast<std::uint32_t>(i);
    }
    return PlaceCount();
}

std::uint32_t SimPort::PlaceCount() const { return static_cast<std::uint32_t>(places_.size()); }

const SimPort::Place* SimPort::PlaceAt(std::uint32_t place) const {
    return place < places_.size() ? &places_[place] : nullptr;
}

std::string SimPort::PlaceName(std::uint32_t place) const {
    const Place* found = PlaceAt(place);
    return found != nullptr ? found->name : std::string();
}

bool SimPort::Open(std::uint32_t place) {
    const Place* found = PlaceAt(place);
    return found != nullptr && bus_.DevicePresent(*found->device);
}

void SimPort::Close(std::uint32_t) {}

CommandOutcome SimPort::Execute(const PortAddress& address, const std::uint8_t* cdb,
                                std::uint8_t cdbLength, DataPhase phase, void* buffer,
                                std::uint32_t length, std::uint16_t) {
    CommandOutcome outcome;
    const Place* place = PlaceAt(address.place);
    if (place == nullptr || address.lun != 0 || cdbLength < kMinCommandLength ||
        cdbLength > kMaxCommandLength || (length != 0 && buffer == nullptr)) {
        return outcome;  // refused
    }
    std::uint8_t block[12] = {};
    std::memcpy(block, cdb, cdbLength);
    Direction direction = Direction::None;
    if (length != 0 && phase == DataPhase::In) direction = Direction::In;
    if (length != 0 && phase == DataPhase::Out) direction = Direction::Out;
    if (direction == Direction::None) length = 0;

    switch (bus_.ExecuteUnit(*place->device, place->lun, block, direction,
                             static_cast<std::uint8_t*>(buffer), length)) {
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
    if (bus_.ExecuteUnit(*place->device, place->lun, requestSense, Direction::In, sense,
                         sizeof sense) == Outcome::Good) {
        std::memcpy(outcome.sense.data(), sense, sizeof sense);
        outcome.senseLength = kSenseBytes;
    }
    return outcome;
}

}  // namespace sim

namespace sim {

SimUnit* SimPort::UnitAt(std::uint32_t place) const {
    const Place* at = PlaceAt(place);
    return at != nullptr ? at->device->Unit(at->lun) : nullptr;
}

SimDevice* SimPort::DeviceAt(std::uint32_t place) const {
    const Place* at = PlaceAt(place);
    return at != nullptr ? at->device : nullptr;
}

}  // namespace sim
