#include "sim/firmware/controller.h"

#include <algorithm>
#include <cstring>

#include "reader/byte_order.h"
#include "sim/firmware/command_fields.h"

namespace sim {

bool Controller::PhaseIs(Direction direction, std::uint32_t length, Direction wanted,
                         std::uint32_t wantedLength) {
    if (length != wantedLength) return false;
    return length == 0 || direction == wanted;
}

Outcome Controller::Check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    sense_ = SenseCode{key, asc, ascq};
    return Outcome::CheckCondition;
}

Outcome Controller::Good() {
    sense_ = SenseCode{};
    return Outcome::Good;
}

void Controller::OverrideReportedBankCount(std::uint8_t count) {
    reportedBankCountOverridden_ = true;
    reportedBankCount_ = count;
}

std::uint8_t Controller::ReportedBankCount() const {
    return reportedBankCountOverridden_ ? reportedBankCount_
                                        : static_cast<std::uint8_t>(flash_.BankCount());
}

void Controller::PowerCycle() {
    stopped_ = false;
    selectedBank_ = 0;
    sense_ = SenseCode{};
    unitAttention_ = true;
    attentionCode_ = kAscMediumChanged;
}

void Controller::Reset() {
    PowerCycle();
    attentionCode_ = kAscResetOccurred;
}

Outcome Controller::Execute(const std::uint8_t* cdb, Direction direction, std::uint8_t* buffer,
                            std::uint32_t length) {
    if (length > 0 && buffer == nullptr) return Check(kSenseIllegalRequest, kAscInvalidField);
    ++commandCounts_[cdb[0]];
    if (cdb[0] == kOpRequestSense) {
        if (!OnlyUsedBytesSet(cdb)) return Check(kSenseIllegalRequest, kAscInvalidField);
        return RequestSense(cdb, direction, buffer, length);
    }

    if (unitAttention_) {
        unitAttention_ = false;
        return Check(kSenseUnitAttention, attentionCode_);
    }
    // The initializing command the stopped disk asks for gets through.
    if (stopped_ && cdb[0] != kOpStartStopUnit) {
        return Check(kSenseNotReady, kAscLunNotReady, kAscqInitRequired);
    }
    if (notReady_) return Check(kSenseNotReady, kAscMediumNotPresent);
    if (!OnlyUsedBytesSet(cdb)) return Check(kSenseIllegalRequest, kAscInvalidField);

    switch (cdb[0]) {
        case kOpTestUnitReady:
        case kOpStartStopUnit:
        case kOpReadCapacity:
        case kOpRead10:
        case kOpWrite10:
        case kOpModeSense6:
        case kOpPreventAllowRemoval:
            return Standard(cdb, direction, buffer, length);
        case kOpSelectBank:
        case kOpReadDeviceCode:
        case kOpGetBankCount:
        case kOpReadCisPageNumber:
        case kOpVendorC4:
        case kOpVendorFE:
            return Vendor(cdb, direction, buffer, length);
        case kOpEraseBlock:
        case kOpMarkBlockBad:
        case kOpReadRedundantArea:
        case kOpReadBlockData:
        case kOpReadPageWithSpare:
        case kOpWritePageWithSpare:
        case kOpFillBlockPattern:
            return RawFlash(cdb, direction, buffer, length);
        default:
            return Check(kSenseIllegalRequest, kAscInvalidOpcode);
    }
}

Outcome Controller::RequestSense(const std::uint8_t* cdb, Direction direction, std::uint8_t* buffer,
                                 std::uint32_t length) {
    if (length > 0 && direction != Direction::In) {
        return Check(kSenseIllegalRequest, kAscInvalidField);
    }
    // A condition that stands reports itself when nothing else is pending.
    SenseCode report = sense_;
    if (unitAttention_) {
        report = SenseCode{kSenseUnitAttention, attentionCode_, 0};
        unitAttention_ = false;
    } else if (report.key == 0 && stopped_) {
        report = SenseCode{kSenseNotReady, kAscLunNotReady, kAscqInitRequired};
    } else if (report.key == 0 && notReady_) {
        report = SenseCode{kSenseNotReady, kAscMediumNotPresent, 0};
    }
    const SenseBytes bytes = FormatSense(report);
    const std::uint32_t n = std::min<std::uint32_t>({length, cdb[4], kSenseBytes});
    if (n > 0) std::memcpy(buffer, bytes.data(), n);
    sense_ = SenseCode{};  // handed over: cleared
    return Outcome::Good;
}

Outcome Controller::Standard(const std::uint8_t* cdb, Direction direction, std::uint8_t* buffer,
                             std::uint32_t length) {
    switch (cdb[0]) {
        case kOpTestUnitReady:
            if (!PhaseIs(direction, length, Direction::None, 0)) break;
            return Good();
        case kOpStartStopUnit:
            if (!PhaseIs(direction, length, Direction::None, 0)) break;
            stopped_ = (cdb[4] & 0x01) == 0;  // START 0 stops, START 1 starts
            return Good();
        case kOpModeSense6: {
            // The operating system asks whether the medium is write-protected (all pages,
            // 3Fh, or none, 00h): a header of four bytes without block descriptors, with the
            // switch in the device-specific byte. The controller has no pages of its own.
            const std::uint8_t page = cdb[2] & 0x3F;
            if (page != 0x00 && page != 0x3F) break;
            if (length > 0 && direction != Direction::In) break;
            const std::uint8_t header[4] = {
                3, 0, writeProtected_ ? std::uint8_t{0x80} : std::uint8_t{0}, 0};
            const std::uint32_t n = std::min<std::uint32_t>({length, cdb[4], sizeof header});
            if (n > 0) std::memcpy(buffer, header, n);
            return Good();
        }
        case kOpPreventAllowRemoval:
            // A stick has nothing to lock: accepted and forgotten.
            if (!PhaseIs(direction, length, Direction::None, 0)) break;
            return Good();
        case kOpReadCapacity:
            if (!PhaseIs(direction, length, Direction::In, 8)) break;
            if (sectors_.Count() == 0) return Check(kSenseMediumError, kAscFormatCorrupted);
            PutBe32(buffer, sectors_.Count() - 1);
            PutBe32(buffer + 4, static_cast<std::uint32_t>(kSectorBytes));
            return Good();
        case kOpRead10:
        case kOpWrite10:
            return ReadWrite10(cdb, direction, buffer, length);
        default:
            break;
    }
    return Check(kSenseIllegalRequest, kAscInvalidField);
}

Outcome Controller::ReadWrite10(const std::uint8_t* cdb, Direction direction, std::uint8_t* buffer,
                                std::uint32_t length) {
    const bool write = cdb[0] == kOpWrite10;
    const std::uint32_t lba = GetBe32(cdb + 2);
    const std::uint32_t count = GetBe16(cdb + 7);
    if (!PhaseIs(direction, length, write ? Direction::Out : Direction::In,
                 count * static_cast<std::uint32_t>(kSectorBytes))) {
        return Check(kSenseIllegalRequest, kAscInvalidField);
    }
    const std::uint32_t sectors = sectors_.Count();
    if (lba >= sectors || count > sectors - lba) {
        return Check(kSenseIllegalRequest, kAscLbaOutOfRange);
    }
    if (write && writeProtected_) return Check(kSenseDataProtect, kAscWriteProtected);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint8_t* data = buffer + i * kSectorBytes;
        if (write) {
            sectors_.Write(lba + i, data);
        } else {
            sectors_.Read(lba + i, data);
        }
    }
    return Good();
}

}  // namespace sim
