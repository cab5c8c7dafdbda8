// The command set of a reader unit: the command block bytes of every operation, its data phase,
// its length and its time-out.
#include <algorithm>
#include <cstring>
#include <functional>

#include "reader/byte_order.h"
#include "reader/reader.h"
#include "reader/reader_unit.h"

namespace {

// Command codes.
constexpr std::uint8_t kTestUnitReady = 0x00;
constexpr std::uint8_t kRequestSense = 0x03;
constexpr std::uint8_t kStartStopUnit = 0x1B;
constexpr std::uint8_t kReadCapacity = 0x25;
constexpr std::uint8_t kRead10 = 0x28;
constexpr std::uint8_t kWrite10 = 0x2A;
constexpr std::uint8_t kFillPattern = 0xC1;
constexpr std::uint8_t kBankCount = 0xC2;
constexpr std::uint8_t kCisPageNumber = 0xC3;
constexpr std::uint8_t kVendorC4 = 0xC4;
constexpr std::uint8_t kReadPageSpare = 0xE8;
constexpr std::uint8_t kWritePageSpare = 0xE9;
constexpr std::uint8_t kMarkBad = 0xF1;
constexpr std::uint8_t kErase = 0xF2;
constexpr std::uint8_t kReadRedundant = 0xF3;
constexpr std::uint8_t kDeviceCode = 0xF7;
constexpr std::uint8_t kReadBlock = 0xFA;
constexpr std::uint8_t kSelectBank = 0xFB;
constexpr std::uint8_t kVendorFE = 0xFE;

constexpr std::uint16_t kShortTimeout = 1;  // TEST UNIT READY and STOP
constexpr std::uint16_t kTimeout = 2;       // everything else, erase and write included

// A 12-byte command block whose unlisted bytes are 0.
struct Cdb {
    std::uint8_t bytes[12] = {};
    explicit Cdb(std::uint8_t code) { bytes[0] = code; }
};

// A transfer of `count` items of `itemBytes` each, in as few commands as the unit's largest
// transfer allows (one, but where the system takes less than the reader's commands carry):
// send(first, n) sends items first to first + n - 1. A transfer beyond what any command may carry
// is no caller's to make: it goes as one command, which the command path refuses unsent. The
// outcome is the last command's (the one that failed, if one did), with the bytes of all of them.
CommandOutcome InPieces(
    std::uint32_t maxTransfer, std::uint32_t count, std::uint32_t itemBytes,
    const std::function<CommandOutcome(std::uint32_t first, std::uint32_t n)>& send) {
    if (std::uint64_t{count} * itemBytes > kMaxTransfer) return send(0, count);
    const std::uint32_t perCommand =
        itemBytes == 0 ? count : std::max<std::uint32_t>(1, maxTransfer / itemBytes);
    std::uint32_t done = 0;
    std::uint32_t moved = 0;
    CommandOutcome outcome;
    do {
        const std::uint32_t n = std::min(perCommand, count - done);
        outcome = send(done, n);
        moved += outcome.transferred;
        done += n;
    } while (outcome.Good() && done < count);
    outcome.requested = count * itemBytes;
    outcome.transferred = moved;
    return outcome;
}

}  // namespace

CommandOutcome ReaderUnit::Send(const std::uint8_t* cdb, DataPhase phase, void* buffer,
                                std::uint32_t length, std::uint16_t timeoutSeconds) {
    PortAddress address;
    if (reader_.AddressOfUnit(key_, &address)) {
        last_ = reader_.Commands().Execute(address, cdb, kMaxCommandLength, phase, buffer, length,
                                           timeoutSeconds);
    } else {
        last_ = CommandOutcome{};  // not a unit of the reader: nothing is sent
        last_.requested = phase == DataPhase::None ? 0 : length;
    }
    silentInARow_ = last_.Silent() ? silentInARow_ + 1 : 0;
    if (last_.status == CommandStatus::HostError) ++hostErrors_;
    if (last_.afterReset) ++resets_;
    return last_;
}

CommandOutcome ReaderUnit::TestUnitReady() {
    return Send(Cdb(kTestUnitReady).bytes, DataPhase::None, nullptr, 0, kShortTimeout);
}

CommandOutcome ReaderUnit::StopUnit() {
    return Send(Cdb(kStartStopUnit).bytes, DataPhase::None, nullptr, 0, kShortTimeout);
}

CommandOutcome ReaderUnit::ReadCapacity(std::uint8_t* out) {
    Cdb cdb(kReadCapacity);
    cdb.bytes[4] = 0x08;
    return Send(cdb.bytes, DataPhase::In, out, 8, kTimeout);
}

CommandOutcome ReaderUnit::RequestSense(std::uint8_t* buf, std::uint8_t len) {
    Cdb cdb(kRequestSense);
    cdb.bytes[4] = kRequestSenseLength;
    std::uint8_t sense[kRequestSenseLength] = {};
    const CommandOutcome outcome = Send(cdb.bytes, DataPhase::In, sense, sizeof sense, kTimeout);
    if (outcome.Good() && buf != nullptr) {
        std::memcpy(buf, sense, std::min<std::size_t>(len, sizeof sense));
    }
    return outcome;
}

CommandOutcome ReaderUnit::ReadSectors(std::uint32_t lba, std::uint16_t count, std::uint8_t* buf) {
    return InPieces(MaxTransfer(), count, kSectorSize, [&](std::uint32_t first, std::uint32_t n) {
        Cdb cdb(kRead10);
        PutBe32(cdb.bytes + 2, lba + first);
        PutBe16(cdb.bytes + 7, static_cast<std::uint16_t>(n));
        return Send(cdb.bytes, DataPhase::In, buf + first * kSectorSize, n * kSectorSize, kTimeout);
    });
}

CommandOutcome ReaderUnit::WriteSectors(std::uint32_t lba, std::uint16_t count,
                                        const std::uint8_t* buf) {
    return InPieces(MaxTransfer(), count, kSectorSize, [&](std::uint32_t first, std::uint32_t n) {
        Cdb cdb(kWrite10);
        PutBe32(cdb.bytes + 2, lba + first);
        PutBe16(cdb.bytes + 7, static_cast<std::uint16_t>(n));
        // The back-ends only read an outgoing buffer.
        return Send(cdb.bytes, DataPhase::Out, const_cast<std::uint8_t*>(buf) + first * kSectorSize,
                    n * kSectorSize, kTimeout);
    });
}

CommandOutcome ReaderUnit::EraseBlock(std::uint32_t block, std::uint8_t pagesPerBlock) {
    Cdb cdb(kErase);
    PutLe32(cdb.bytes + 2, block * pagesPerBlock);
    return Send(cdb.bytes, DataPhase::None, nullptr, 0, kTimeout);
}

CommandOutcome ReaderUnit::MarkBlockBad(std::uint32_t block, std::uint8_t pagesPerBlock) {
    Cdb cdb(kMarkBad);
    cdb.bytes[1] = pagesPerBlock;
    PutLe32(cdb.bytes + 2, block * pagesPerBlock);
    return Send(cdb.bytes, DataPhase::None, nullptr, 0, kTimeout);
}

CommandOutcome ReaderUnit::ReadRedundantArea(std::uint32_t page, std::uint8_t pageCount,
                                             std::uint8_t spareBytes, std::uint8_t* buf) {
    return InPieces(MaxTransfer(), pageCount, spareBytes,
                    [&](std::uint32_t first, std::uint32_t n) {
                        Cdb cdb(kReadRedundant);
                        PutLe24(cdb.bytes + 2, page + first);
                        cdb.bytes[5] = static_cast<std::uint8_t>(n);
                        return Send(cdb.bytes, DataPhase::In, buf + first * spareBytes,
                                    n * spareBytes, kTimeout);
                    });
}

CommandOutcome ReaderUnit::ReadBlockData(std::uint32_t page, std::uint8_t pageCount,
                                         std::uint8_t pagesPerBlock, std::uint16_t bytesPerPage,
                                         std::uint8_t* buf) {
    return InPieces(MaxTransfer(), pageCount, bytesPerPage,
                    [&](std::uint32_t first, std::uint32_t n) {
                        Cdb cdb(kReadBlock);
                        cdb.bytes[1] = pagesPerBlock;
                        PutLe24(cdb.bytes + 2, page + first);
                        cdb.bytes[5] = static_cast<std::uint8_t>(n);
                        return Send(cdb.bytes, DataPhase::In, buf + first * bytesPerPage,
                                    n * bytesPerPage, kTimeout);
                    });
}

CommandOutcome ReaderUnit::ReadPageWithSpare(std::uint32_t page, std::uint8_t pagesPerBlock,
                                             std::uint8_t* buf) {
    Cdb cdb(kReadPageSpare);
    cdb.bytes[1] = pagesPerBlock;
    PutLe24(cdb.bytes + 2, page);
    cdb.bytes[5] = 1;
    return Send(cdb.bytes, DataPhase::In, buf, kPageWithSpareSize, kTimeout);
}

CommandOutcome ReaderUnit::WritePageWithSpare(std::uint32_t page, std::uint8_t pagesPerBlock,
                                              const std::uint8_t* buf) {
    // Unlike the read, the write carries the page at bytes 7-10.
    Cdb cdb(kWritePageSpare);
    cdb.bytes[1] = pagesPerBlock;
    cdb.bytes[5] = 1;
    PutLe32(cdb.bytes + 7, page);
    return Send(cdb.bytes, DataPhase::Out, const_cast<std::uint8_t*>(buf), kPageWithSpareSize,
                kTimeout);
}

CommandOutcome ReaderUnit::FillBlockPattern(std::uint32_t page, std::uint8_t pageCount,
                                            std::uint8_t pattern) {
    Cdb cdb(kFillPattern);
    cdb.bytes[1] = pattern;
    cdb.bytes[5] = pageCount;
    PutLe32(cdb.bytes + 7, page);
    return Send(cdb.bytes, DataPhase::None, nullptr, 0, kTimeout);
}

CommandOutcome ReaderUnit::ReadDeviceCode(std::uint8_t* out) {
    return Send(Cdb(kDeviceCode).bytes, DataPhase::In, out, 1, kTimeout);
}

CommandOutcome ReaderUnit::GetBankCount(std::uint8_t* out) {
    return Send(Cdb(kBankCount).bytes, DataPhase::In, out, 1, kTimeout);
}

CommandOutcome ReaderUnit::SelectBank(std::uint8_t bank) {
    Cdb cdb(kSelectBank);
    cdb.bytes[1] = bank;
    return Send(cdb.bytes, DataPhase::None, nullptr, 0, kTimeout);
}

CommandOutcome ReaderUnit::SendVendorC4() {
    return Send(Cdb(kVendorC4).bytes, DataPhase::None, nullptr, 0, kTimeout);
}

CommandOutcome ReaderUnit::SendVendorFE(std::uint8_t value) {
    Cdb cdb(kVendorFE);
    cdb.bytes[2] = value;
    return Send(cdb.bytes, DataPhase::None, nullptr, 0, kTimeout);
}

CommandOutcome ReaderUnit::ReadCisPageNumber(std::uint32_t* out) {
    std::uint8_t reply[4] = {};
    const CommandOutcome outcome =
        Send(Cdb(kCisPageNumber).bytes, DataPhase::In, reply, sizeof reply, kTimeout);
    if (outcome.Good() && out != nullptr) *out = GetLe32(reply);
    return outcome;
}
