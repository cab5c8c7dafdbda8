#include "sim/firmware/command_fields.h"

#include <initializer_list>

#include "sim/scsi_codes.h"

namespace sim {

namespace {

// The mask of the positions (bit i: byte i).
constexpr std::uint16_t Bytes(std::initializer_list<int> positions) {
    std::uint16_t mask = 0;
    for (int i : positions) mask = static_cast<std::uint16_t>(mask | (1u << i));
    return mask;
}

bool UsedCdbBytes(std::uint8_t op, std::uint16_t* mask) {
    switch (op) {
        case kOpTestUnitReady:
        case kOpGetBankCount:
        case kOpReadCisPageNumber:
        case kOpVendorC4:
        case kOpReadDeviceCode:
            *mask = 0;
            return true;
        case kOpRequestSense:
        case kOpReadCapacity:  // byte 4 carries 08h
            *mask = Bytes({4});
            return true;
        case kOpStartStopUnit:
            *mask = Bytes({1, 4});
            return true;
        case kOpModeSense6:  // DBD, page control and code, allocation length
            *mask = Bytes({1, 2, 4});
            return true;
        case kOpPreventAllowRemoval:
            *mask = Bytes({4});
            return true;
        case kOpRead10:
        case kOpWrite10:
            *mask = Bytes({2, 3, 4, 5, 7, 8});
            return true;
        case kOpFillBlockPattern:
        case kOpWritePageWithSpare:
            *mask = Bytes({1, 5, 7, 8, 9, 10});
            return true;
        case kOpReadPageWithSpare:
        case kOpReadBlockData:
        case kOpMarkBlockBad:
            *mask = Bytes({1, 2, 3, 4, 5});
            return true;
        case kOpEraseBlock:
        case kOpReadRedundantArea:
            *mask = Bytes({2, 3, 4, 5});
            return true;
        case kOpSelectBank:
            *mask = Bytes({1});
            return true;
        case kOpVendorFE:
            *mask = Bytes({2});
            return true;
        default:
            return false;
    }
}

}  // namespace

bool OnlyUsedBytesSet(const std::uint8_t* cdb) {
    std::uint16_t used = 0;
    if (!UsedCdbBytes(cdb[0], &used)) return true;
    for (int i = 1; i < 12; ++i) {
        if (cdb[i] != 0 && (used & (1u << i)) == 0) return false;
    }
    return true;
}

}  // namespace sim
