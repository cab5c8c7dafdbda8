#include "reader/commands.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "reader/byte_order.h"
#include "reader/unit_command.h"

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

int NoData(MediaType unit, const Cdb& cdb, std::uint16_t timeout = kTimeout) {
    return SendUnitCommand(unit, cdb.bytes, nullptr, 0, DataPhase::None, timeout);
}

int DataIn(MediaType unit, const Cdb& cdb, void* buffer, std::uint32_t length) {
    return SendUnitCommand(unit, cdb.bytes, buffer, length, DataPhase::In, kTimeout);
}

int DataOut(MediaType unit, const Cdb& cdb, const void* buffer, std::uint32_t length) {
    // The back-ends only read an outgoing buffer.
    return SendUnitCommand(unit, cdb.bytes, const_cast<void*>(buffer), length, DataPhase::Out,
                           kTimeout);
}

// A transfer of `count` items of `itemBytes` each, in as few commands as the unit's largest
// transfer allows (one, but where the system takes less than the reader's commands carry):
// send(first, n) sends items first to first + n - 1 and says whether they came through. A
// transfer beyond what any command may carry is no caller's to make: it goes as one command,
// which the command path refuses unsent.
int InPieces(MediaType unit, std::uint32_t count, std::uint32_t itemBytes,
             const std::function<int(std::uint32_t first, std::uint32_t n)>& send) {
    if (std::uint64_t{count} * itemBytes > kMaxTransfer) return send(0, count);
    const std::uint32_t perCommand =
        itemBytes == 0 ? count : std::max<std::uint32_t>(1, UnitMaxTransfer(unit) / itemBytes);
    std::uint32_t done = 0;
    do {
        const std::uint32_t n = std::min(perCommand, count - done);
        if (send(done, n) != 1) return 0;
        done += n;
    } while (done < count);
    return 1;
}

}  // namespace

int TestUnitReady(MediaType unit) { return NoData(unit, Cdb(kTestUnitReady), kShortTimeout); }

int StopUnit(MediaType unit) { return NoData(unit, Cdb(kStartStopUnit), kShortTimeout); }

int ReadCapacity(MediaType unit, std::uint8_t* out) {
    Cdb cdb(kReadCapacity);
    cdb.bytes[4] = 0x08;
    return DataIn(unit, cdb, out, 8);
}

int RequestSense(MediaType unit, std::uint8_t* buf, std::uint8_t len) {
    Cdb cdb(kRequestSense);
    cdb.bytes[4] = kRequestSenseLength;
    std::uint8_t sense[kRequestSenseLength] = {};
    if (DataIn(unit, cdb, sense, sizeof sense) != 1) return 0;
    if (buf != nullptr) std::memcpy(buf, sense, std::min<std::size_t>(len, sizeof sense));
    return 1;
}

int ReadSectors(MediaType unit, std::uint32_t lba, std::uint16_t count, std::uint8_t* buf) {
    return InPieces(unit, count, kSectorSize, [&](std::uint32_t first, std::uint32_t n) {
        Cdb cdb(kRead10);
        PutBe32(cdb.bytes + 2, lba + first);
        PutBe16(cdb.bytes + 7, static_cast<std::uint16_t>(n));
        return DataIn(unit, cdb, buf + first * kSectorSize, n * kSectorSize);
    });
}

int WriteSectors(MediaType unit, std::uint32_t lba, std::uint16_t count, const std::uint8_t* buf) {
    return InPieces(unit, count, kSectorSize, [&](std::uint32_t first, std::uint32_t n) {
        Cdb cdb(kWrite10);
        PutBe32(cdb.bytes + 2, lba + first);
        PutBe16(cdb.bytes + 7, static_cast<std::uint16_t>(n));
        return DataOut(unit, cdb, buf + first * kSectorSize, n * kSectorSize);
    });
}

int EraseBlock(MediaType unit, std::uint32_t block, std::uint8_t pagesPerBlock) {
    Cdb cdb(kErase);
    PutLe32(cdb.bytes + 2, block * pagesPerBlock);
    return NoData(unit, cdb);
}

int MarkBlockBad(MediaType unit, std::uint32_t block, std::uint8_t pagesPerBlock) {
    Cdb cdb(kMarkBad);
    cdb.bytes[1] = pagesPerBlock;
    PutLe32(cdb.bytes + 2, block * pagesPerBlock);
    return NoData(unit, cdb);
}

int ReadRedundantArea(MediaType unit, std::uint32_t page, std::uint8_t pageCount,
                      std::uint8_t spareBytes, std::uint8_t* buf) {
    return InPieces(unit, pageCount, spareBytes, [&](std::uint32_t first, std::uint32_t n) {
        Cdb cdb(kReadRedundant);
        PutLe24(cdb.bytes + 2, page + first);
        cdb.bytes[5] = static_cast<std::uint8_t>(n);
        return DataIn(unit, cdb, buf + first * spareBytes, n * spareBytes);
    });
}

int ReadBlockData(MediaType unit, std::uint32_t page, std::uint8_t pageCount,
                  std::uint8_t pagesPerBlock, std::uint16_t bytesPerPage, std::uint8_t* buf) {
    return InPieces(unit, pageCount, bytesPerPage, [&](std::uint32_t first, std::uint32_t n) {
        Cdb cdb(kReadBlock);
        cdb.bytes[1] = pagesPerBlock;
        PutLe24(cdb.bytes + 2, page + first);
        cdb.bytes[5] = static_cast<std::uint8_t>(n);
        return DataIn(unit, cdb, buf + first * bytesPerPage, n * bytesPerPage);
    });
}

int ReadPageWithSpare(MediaType unit, std::uint32_t page, std::uint8_t pagesPerBlock,
                      std::uint8_t* buf) {
    Cdb cdb(kReadPageSpare);
    cdb.bytes[1] = pagesPerBlock;
    PutLe24(cdb.bytes + 2, page);
    cdb.bytes[5] = 1;
    return DataIn(unit, cdb, buf, kPageWithSpareSize);
}

int WritePageWithSpare(MediaType unit, std::uint32_t page, std::uint8_t pagesPerBlock,
                       const std::uint8_t* buf) {
    // Unlike the read, the write carries the page at bytes 7-10.
    Cdb cdb(kWritePageSpare);
    cdb.bytes[1] = pagesPerBlock;
    cdb.bytes[5] = 1;
    PutLe32(cdb.bytes + 7, page);
    return DataOut(unit, cdb, buf, kPageWithSpareSize);
}

int FillBlockPattern(MediaType unit, std::uint32_t page, std::uint8_t pageCount,
                     std::uint8_t pattern) {
    Cdb cdb(kFillPattern);
    cdb.bytes[1] = pattern;
    cdb.bytes[5] = pageCount;
    PutLe32(cdb.bytes + 7, page);
    return NoData(unit, cdb);
}

int ReadDeviceCode(MediaType unit, std::uint8_t* out) {
    return DataIn(unit, Cdb(kDeviceCode), out, 1);
}

int GetBankCount(MediaType unit, std::uint8_t* out) {
    return DataIn(unit, Cdb(kBankCount), out, 1);
}

int SelectBank(MediaType unit, std::uint8_t bank) {
    Cdb cdb(kSelectBank);
    cdb.bytes[1] = bank;
    return NoData(unit, cdb);
}

int SendVendorC4(MediaType unit) { return NoData(unit, Cdb(kVendorC4)); }

int SendVendorFE(MediaType unit, std::uint8_t value) {
    Cdb cdb(kVendorFE);
    cdb.bytes[2] = value;
    return NoData(unit, cdb);
}

int ReadCisPageNumber(MediaType unit, std::uint32_t* out) {
    std::uint8_t reply[4] = {};
    if (DataIn(unit, Cdb(kCisPageNumber), reply, sizeof reply) != 1) return 0;
    if (out != nullptr) *out = GetLe32(reply);
    return 1;
}
