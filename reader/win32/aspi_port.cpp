#include <cstring>
#include <string>

#include "reader/win32/aspi_backend.h"
#include "reader/win32/request_layouts.h"

namespace {

constexpr std::uint8_t kCheckCondition = 2;

std::uint8_t Flags(DataPhase phase) {
    switch (phase) {
        case DataPhase::In:
            return kAspiDirIn;
        case DataPhase::Out:
            return kAspiDirOut;
        case DataPhase::None:
            break;
    }
    return kAspiDirNone;
}

}  // namespace

std::uint32_t AspiPort::PlaceCount() const {
    return std::uint32_t{transport_.hostAdapterCount} * kTargetsPerAdapter;
}

std::string AspiPort::PlaceName(std::uint32_t place) const {
    return std::to_string(place / kTargetsPerAdapter) + ":" +
           std::to_string(place % kTargetsPerAdapter);
}

CommandOutcome AspiPort::Execute(const PortAddress& address, const std::uint8_t* cdb,
                                 std::uint8_t cdbLength, DataPhase phase, void* buffer,
                                 std::uint32_t length, std::uint16_t timeoutSeconds) {
    CommandOutcome outcome;
    ScsiTransport& transport = transport_;
    if (transport.commandEntry == nullptr || address.place >= PlaceCount()) return outcome;
    // The request block always carries twelve command bytes.
    std::uint8_t block[kMaxCommandLength] = {};
    std::memcpy(block, cdb, cdbLength);
    transport.readerHostAdapter = static_cast<std::uint8_t>(address.place / kTargetsPerAdapter);
    transport.readerTarget = static_cast<std::uint8_t>(address.place % kTargetsPerAdapter);

    const std::uint32_t status = AspiExecute(transport, os_, address.lun, block, buffer, length,
                                             Flags(phase), timeoutSeconds);
    switch (status) {
        case kAspiComplete:
            outcome.status = CommandStatus::Good;
            outcome.transferred = length;
            break;
        case kAspiNoDevice:
            outcome.status = CommandStatus::NoDevice;
            break;
        case kAspiAborted:
            outcome.status = CommandStatus::TimedOut;
            break;
        case kAspiError:
            outcome.status = transport.requestBlock != nullptr &&
                                     transport.requestBlock[srb::kTargStat] == kCheckCondition
                                 ? CommandStatus::CheckCondition
                                 : CommandStatus::Failed;
            break;
        default:
            outcome.status = CommandStatus::Failed;
            break;
    }
    return outcome;
}
