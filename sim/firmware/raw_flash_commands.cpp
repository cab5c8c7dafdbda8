// The controller's vendor commands that reach the raw flash of the selected bank: erase, mark,
// the three reads (spare bytes, data, a whole page) and the two programs (a page, a pattern).
#include "reader/byte_order.h"
#include "sim/firmware/controller.h"

namespace sim {

namespace {

// Where a command carries its page, and how many pages it touches.
void PagesOf(const std::uint8_t* cdb, const BankGeometry& g, std::uint32_t* page,
             std::uint32_t* count) {
    *page = 0;
    *count = 1;
    switch (cdb[0]) {
        case kOpEraseBlock:
        case kOpMarkBlockBad:
            *page = GetLe32(cdb + 2);
            *count = g.pagesPerBlock;
            break;
        case kOpReadRedundantArea:
        case kOpReadBlockData:
            *page = GetLe24(cdb + 2);
            *count = cdb[5];
            break;
        case kOpReadPageWithSpare:
            *page = GetLe24(cdb + 2);
            break;
        case kOpWritePageWithSpare:
            *page = GetLe32(cdb + 7);
            break;
        case kOpFillBlockPattern:
            *page = GetLe32(cdb + 7);
            *count = cdb[5];
            break;
        default:
            break;
    }
}

}  // namespace

Outcome Controller::RawFlash(const std::uint8_t* cdb, Direction direction, std::uint8_t* buffer,
                             std::uint32_t length) {
    if (selectedBank_ >= flash_.BankCount()) {
        return Check(kSenseIllegalRequest, kAscLbaOutOfRange);
    }
    const std::size_t bank = selectedBank_;
    const BankGeometry& g = flash_.Geometry(bank);
    const std::uint8_t op = cdb[0];
    std::uint32_t page = 0;
    std::uint32_t count = 1;
    PagesOf(cdb, g, &page, &count);

    // The data phase and the fixed fields.
    bool phaseOk = false;
    switch (op) {
        case kOpEraseBlock:
            phaseOk = PhaseIs(direction, length, Direction::None, 0);
            break;
        case kOpMarkBlockBad:
            phaseOk = PhaseIs(direction, length, Direction::None, 0) && cdb[1] == g.pagesPerBlock;
            break;
        case kOpReadRedundantArea:
            phaseOk =
                count > 0 && PhaseIs(direction, length, Direction::In, count * g.spareBytesPerPage);
            break;
        case kOpReadBlockData:
            phaseOk = count > 0 && cdb[1] == g.pagesPerBlock &&
                      PhaseIs(direction, length, Direction::In, count * kPageDataBytes);
            break;
        case kOpReadPageWithSpare:
            phaseOk = cdb[1] == g.pagesPerBlock && cdb[5] == 1 &&
                      PhaseIs(direction, length, Direction::In, kPageImageBytes);
            break;
        case kOpWritePageWithSpare:
            phaseOk = cdb[1] == g.pagesPerBlock && cdb[5] == 1 &&
                      PhaseIs(direction, length, Direction::Out, kPageImageBytes);
            break;
        case kOpFillBlockPattern:
            phaseOk = count > 0 && PhaseIs(direction, length, Direction::None, 0);
            break;
        default:
            break;
    }
    if (!phaseOk) return Check(kSenseIllegalRequest, kAscInvalidField);
    const std::uint32_t pagesInBank = g.PagesPerBank();
    if (page >= pagesInBank || count > pagesInBank - page) {
        return Check(kSenseIllegalRequest, kAscLbaOutOfRange);
    }
    const bool blockCommand = op == kOpEraseBlock || op == kOpMarkBlockBad;
    if (blockCommand && page % g.pagesPerBlock != 0) {
        return Check(kSenseIllegalRequest, kAscInvalidField);
    }
    const bool writes = op == kOpEraseBlock || op == kOpMarkBlockBad ||
                        op == kOpWritePageWithSpare || op == kOpFillBlockPattern;
    if (writes && writeProtected_) return Check(kSenseDataProtect, kAscWriteProtected);

    const std::uint32_t block = page / g.pagesPerBlock;
    switch (op) {
        case kOpEraseBlock:
            if (!flash_.Erase(bank, block)) return Check(kSenseMediumError, kAscEraseFailure);
            return Good();
        case kOpMarkBlockBad:
            flash_.Mark(bank, block);
            return Good();
        case kOpReadRedundantArea:
            for (std::uint32_t i = 0; i < count; ++i) {
                flash_.Read(bank, page + i, kPageDataBytes, g.spareBytesPerPage,
                            buffer + i * g.spareBytesPerPage);
            }
            flash_.DisturbRead(bank, page, count, g.spareBytesPerPage, buffer);
            return Good();
        case kOpReadBlockData:
            for (std::uint32_t i = 0; i < count; ++i) {
                flash_.Read(bank, page + i, 0, kPageDataBytes, buffer + i * kPageDataBytes);
            }
            flash_.DisturbRead(bank, page, count, kPageDataBytes, buffer);
            return Good();
        case kOpReadPageWithSpare:
            flash_.Read(bank, page, 0, kPageImageBytes, buffer);
            flash_.DisturbRead(bank, page, 1, kPageImageBytes, buffer);
            return Good();
        case kOpWritePageWithSpare:
            if (!flash_.Program(bank, page, buffer)) {
                return Check(kSenseMediumError, kAscWriteError);
            }
            return Good();
        case kOpFillBlockPattern:
            if (!flash_.Fill(bank, page, count, cdb[1])) {
                return Check(kSenseMediumError, kAscWriteError);
            }
            return Good();
        default:
            break;
    }
    return Check(kSenseIllegalRequest, kAscInvalidOpcode);
}

}  // namespace sim
