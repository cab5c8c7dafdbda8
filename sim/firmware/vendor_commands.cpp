// The controller's vendor commands that do not reach the raw flash: bank selection and the
// bank's device code, the bank count, the CIS page and the reload of the controller's map from
// it (C4h), and FEh.
#include "reader/byte_order.h"
#include "sim/firmware/cis_map.h"
#include "sim/firmware/controller.h"

namespace sim {

Outcome Controller::Vendor(const std::uint8_t* cdb, Direction direction, std::uint8_t* buffer,
                           std::uint32_t length) {
    switch (cdb[0]) {
        case kOpSelectBank:
            if (!PhaseIs(direction, length, Direction::None, 0)) break;
            if (cdb[1] >= flash_.BankCount()) break;
            selectedBank_ = cdb[1];
            return Good();
        case kOpReadDeviceCode:
        case kOpGetBankCount: {
            // One byte of answer; a host that can only move an even count asks for two.
            if (direction != Direction::In || (length != 1 && length != 2)) break;
            std::uint8_t value = 0;
            if (cdb[0] == kOpGetBankCount) {
                value = ReportedBankCount();
            } else {
                if (selectedBank_ >= flash_.BankCount()) {
                    return Check(kSenseIllegalRequest, kAscLbaOutOfRange);
                }
                value = flash_.Geometry(selectedBank_).deviceCode;
            }
            buffer[0] = value;
            if (length == 2) buffer[1] = 0;
            return Good();
        }
        case kOpReadCisPageNumber:
            if (!PhaseIs(direction, length, Direction::In, 4)) break;
            PutLe32(buffer, FindCisPage(flash_));
            return Good();
        case kOpVendorC4:
            if (!PhaseIs(direction, length, Direction::None, 0)) break;
            return ReloadFromCis();
        case kOpVendorFE:
            if (!PhaseIs(direction, length, Direction::None, 0)) break;
            lastFeValue_ = cdb[2];
            return Good();
        default:
            break;
    }
    return Check(kSenseIllegalRequest, kAscInvalidField);
}

// The controller reloads its tables from the CIS page: the logical disk takes the size it gives
// and starts empty. A page whose counts do not add up leaves it without a usable map: no disk at
// all rather than one that loses data.
Outcome Controller::ReloadFromCis() {
    const std::uint32_t cisPage = FindCisPage(flash_);
    if (cisPage == kNoPage) return Check(kSenseMediumError, kAscFormatCorrupted);
    sectors_.Clear();
    if (!CisPageConsistent(flash_, cisPage)) {
        sectors_.Resize(0);
        return Check(kSenseMediumError, kAscFormatCorrupted);
    }
    sectors_.Resize(CisSectorTotal(flash_));
    return Good();
}

}  // namespace sim
