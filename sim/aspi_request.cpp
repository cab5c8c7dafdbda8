#include "sim/aspi_request.h"

#include <cstring>

#include "reader/byte_order.h"

namespace sim {
namespace {

// SRB_HAInquiry fields.
constexpr std::uint32_t kHaCount = 8;
constexpr std::uint32_t kHaScsiId = 9;
constexpr std::uint32_t kHaManagerId = 10;
constexpr std::uint8_t kHostScsiId = 7;

constexpr std::uint8_t kSsAbortFail = 0x03;
constexpr std::uint8_t kSsInvalidHa = 0x81;

constexpr std::uint8_t kDirIn = 0x08;
constexpr std::uint8_t kDirOut = 0x10;

std::uint8_t Complete(std::uint8_t* block, std::uint8_t status) {
    block[srb::kStatus] = status;
    return status;
}

std::uint32_t HostAdapterInquiry(SimBus& bus, std::uint8_t* block) {
    block[kHaCount] = bus.HostAdapterCount();
    block[kHaScsiId] = kHostScsiId;
    std::memcpy(block + kHaManagerId, "ASPI for WIN32  ", 16);
    return Complete(block, kSsComp);
}

std::uint32_t Execute(SimBus& bus, std::uint8_t* block, const BufferResolver& resolve) {
    const std::uint8_t adapter = block[srb::kHaId];
    if (adapter >= bus.HostAdapterCount()) return Complete(block, kSsInvalidHa);

    const std::uint8_t flags = block[srb::kFlags] & (kDirIn | kDirOut);
    const std::uint32_t length = GetLe32(block + srb::kBufLen);
    Direction direction = Direction::None;
    if (flags == kDirIn) {
        direction = Direction::In;
    } else if (flags == kDirOut) {
        direction = Direction::Out;
    } else if (flags != 0 || length != 0) {
        // Both directions at once, or a data phase without one.
        return Complete(block, kSsInvalidSrb);
    }
    const std::uint8_t cdbLength = block[srb::kCdbLen];
    if (cdbLength == 0 || cdbLength > 16) return Complete(block, kSsInvalidSrb);

    std::uint8_t* buffer = nullptr;
    if (length != 0) {
        buffer = resolve ? resolve(GetLe32(block + srb::kBufPointer), length) : nullptr;
        if (buffer == nullptr) return Complete(block, kSsInvalidSrb);
    }
    std::uint8_t cdb[12] = {};
    std::memcpy(cdb, block + srb::kCdb, cdbLength < 12 ? cdbLength : 12);

    block[srb::kHaStat] = 0;
    block[srb::kTargStat] = 0;
    switch (bus.ExecuteAspi(adapter, block[srb::kTarget], block[srb::kLun], cdb, direction, buffer,
                            length)) {
        case Outcome::Good:
            return Complete(block, kSsComp);
        case Outcome::CheckCondition:
            block[srb::kTargStat] = kTargetStatusCheckCondition;
            return Complete(block, kSsErr);
        case Outcome::NoDevice:
            return Complete(block, kSsNoDevice);
        case Outcome::Hung:
            break;
    }
    block[srb::kStatus] = kSsPending;  // stays so: the command never completes
    return kSsPending;
}

// A pending request can be aborted; one that has completed (or is not a request) cannot.
std::uint32_t Abort(std::uint8_t* block, const BufferResolver& resolve) {
    std::uint8_t* victim = resolve ? resolve(GetLe32(block + kSrbAbortTarget), 256) : nullptr;
    if (victim == nullptr || victim[srb::kCmd] != srb::kExecScsiCommand ||
        victim[srb::kStatus] != kSsPending) {
        return Complete(block, kSsAbortFail);
    }
    victim[srb::kStatus] = kSsAborted;
    return Complete(block, kSsComp);
}

}  // namespace

std::uint32_t ExecuteAspiRequest(SimBus& bus, std::uint8_t* block, const BufferResolver& resolve) {
    if (block == nullptr) return kSsInvalidSrb;
    switch (block[srb::kCmd]) {
        case kScHaInquiry:
            return HostAdapterInquiry(bus, block);
        case srb::kExecScsiCommand:
            return Execute(bus, block, resolve);
        case kScAbortSrb:
            return Abort(block, resolve);
        default:
            return Complete(block, kSsInvalidCmd);
    }
}

}  // namespace sim
