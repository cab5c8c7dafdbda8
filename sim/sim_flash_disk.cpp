#include "sim/sim_flash_disk.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <map>
#include <unordered_map>

#include "reader/byte_order.h"
#include "sim/scsi_codes.h"

namespace sim {

namespace {

// The parts the firmware knows: code, data bytes per page, spare bytes per page, pages per
// block, blocks per bank.
struct KnownPart {
    std::uint8_t code;
    std::uint16_t pageDataBytes;
    std::uint8_t spareBytes;
    std::uint8_t pagesPerBlock;
    std::uint16_t blocksPerBank;
};

constexpr KnownPart kKnownParts[] = {
    {0x6E, 256, 8, 16, 256},   {0xE8, 256, 8, 16, 256},   {0xEC, 256, 8, 16, 256},
    {0x64, 256, 8, 16, 512},   {0xEA, 256, 8, 16, 512},   {0x6B, 512, 16, 16, 512},
    {0xE3, 512, 16, 16, 512},  {0xE5, 512, 16, 16, 512},  {0xE6, 512, 16, 16, 1024},
    {0x73, 512, 16, 32, 1024}, {0x75, 512, 16, 32, 2048}, {0x76, 512, 16, 32, 4096},
    {0x79, 512, 16, 32, 8192},
};

constexpr std::uint8_t kFaultEraseFails = 1;
constexpr std::uint8_t kFaultStuckBits = 2;
constexpr std::uint8_t kFaultMarkDoesNotStick = 4;
constexpr std::uint8_t kFaultProgramFails = 8;
constexpr std::uint8_t kFaultBitFlips = 16;

// Spare bytes 0..5 carry the bad-block mark.
constexpr std::size_t kMarkFirst = kPageDataBytes;
constexpr std::size_t kMarkBytes = 6;

// The CIS page: "USBC", then a group table (8 banks x 32 groups of 256 blocks, one byte each:
// the data blocks the group offers), then 8 running sector totals.
constexpr std::size_t kCisGroupTableOffset = 4;
constexpr std::size_t kCisGroupsPerBank = 32;
constexpr std::uint32_t kGroupBlocks = 256;
constexpr std::uint32_t kMaxGroupDataBlocks = 250;
constexpr std::size_t kCisTotalsOffset = 260;
constexpr std::size_t kCisTotalsCount = 8;

// One erase block. Without pages every byte of it (data and spare) holds `fill`.
struct Block {
    std::unique_ptr<std::uint8_t[]> pages;
    std::uint8_t fill = 0xFF;
    std::uint8_t faults = 0;
    std::uint32_t erases = 0;  // erase commands the block received
};

// What the counted faults of one block are set to and where they stand.
struct Wear {
    std::uint32_t eraseLimit = 0;    // erases that succeed before every later one fails
    std::uint32_t programLimit = 0;  // page programs that succeed before every later one fails
    std::uint32_t programs = 0;      // page programs tried so far
    std::uint32_t flipsLeft = 0;     // bit flips still to hand out on reads
    std::uint32_t random = 1;        // where the next flip lands (xorshift state, never 0)
};

std::uint32_t NextRandom(std::uint32_t* state) {
    std::uint32_t x = *state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    *state = x;
    return x;
}

struct Bank {
    BankGeometry geometry;
    std::vector<Block> blocks;
};

std::uint64_t BlockKey(std::size_t bank, std::uint32_t block) {
    return (static_cast<std::uint64_t>(bank) << 32) | block;
}

// The command block bytes each command gives a meaning to (bit i: byte i). Every other byte must
// be 0: the firmware refuses a block with stray bytes as an invalid field, so a command whose
// fields landed in the wrong place fails instead of touching some other page.
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

bool OnlyUsedBytesSet(const std::uint8_t* cdb) {
    std::uint16_t used = 0;
    if (!UsedCdbBytes(cdb[0], &used)) return true;  // unknown opcodes are refused as such
    for (int i = 1; i < 12; ++i) {
        if (cdb[i] != 0 && (used & (1u << i)) == 0) return false;
    }
    return true;
}

}  // namespace

BankGeometry GeometryForDeviceCode(std::uint8_t deviceCode) {
    BankGeometry g;
    g.deviceCode = deviceCode;
    for (const KnownPart& part : kKnownParts) {
        if (part.code == deviceCode) {
            g.known = true;
            g.pageDataBytes = part.pageDataBytes;
            g.spareBytesPerPage = part.spareBytes;
            g.pagesPerBlock = part.pagesPerBlock;
            g.blocksPerBank = part.blocksPerBank;
            return g;
        }
    }
    return g;  // the small default part
}

struct SimFlashDisk::Impl {
    std::vector<Bank> banks;
    std::map<std::uint64_t, StuckBits> stuck;
    std::unordered_map<std::uint64_t, Wear> wear;  // blocks with counted faults
    bool reportedBankCountOverridden = false;
    std::uint8_t reportedBankCount = 0;
    std::uint8_t selectedBank = 0;

    bool writeProtected = false;
    bool notReady = false;
    bool unitAttention = false;
    std::uint8_t attentionCode = kAscMediumChanged;  // what the pending unit attention reports
    bool stopped = false;
    SenseCode sense;

    std::uint32_t sectorCount = 0;
    // Logical sectors that hold anything but zeros.
    std::unordered_map<std::uint32_t, std::unique_ptr<std::uint8_t[]>> sectors;

    std::array<std::uint64_t, 256> commandCounts{};
    int lastFeValue = -1;

    // --- Flash cells ---------------------------------------------------------------------------

    std::size_t BlockBytes(const Bank& bank) const {
        return static_cast<std::size_t>(bank.geometry.pagesPerBlock) * kPageImageBytes;
    }

    std::uint8_t* Materialize(Bank& bank, Block& block) {
        if (!block.pages) {
            const std::size_t bytes = BlockBytes(bank);
            block.pages.reset(new std::uint8_t[bytes]);
            std::memset(block.pages.get(), block.fill, bytes);
        }
        return block.pages.get();
    }

    void SetUniform(Block& block, std::uint8_t value) {
        block.pages.reset();
        block.fill = value;
    }

    // Copies bytes [offset, offset + count) of a page image as the cells read them.
    void ReadPageBytes(std::size_t bankIndex, std::uint32_t page, std::size_t offset,
                       std::size_t count, std::uint8_t* out) const {
        const Bank& bank = banks[bankIndex];
        const std::uint32_t ppb = bank.geometry.pagesPerBlock;
        const std::uint32_t blockIndex = page / ppb;
        const std::uint32_t pageInBlock = page % ppb;
        const Block& block = bank.blocks[blockIndex];
        if (block.pages) {
            std::memcpy(out, block.pages.get() + pageInBlock * kPageImageBytes + offset, count);
        } else {
            std::memset(out, block.fill, count);
        }
        if (block.faults & kFaultStuckBits) {
            const StuckBits& bits = stuck.at(BlockKey(bankIndex, blockIndex));
            if (bits.pageInBlock == pageInBlock && bits.byteOffset >= offset &&
                bits.byteOffset < offset + count) {
                out[bits.byteOffset - offset] &= static_cast<std::uint8_t>(~bits.mask);
            }
        }
    }

    Wear& WearOf(std::size_t bankIndex, std::uint32_t block) {
        return wear[BlockKey(bankIndex, block)];
    }

    // How many of `wanted` page programs of a block succeed; counts them all as tried.
    std::uint32_t ProgramsAllowed(std::size_t bankIndex, std::uint32_t blockIndex,
                                  std::uint32_t wanted) {
        const Block& block = banks[bankIndex].blocks[blockIndex];
        if ((block.faults & kFaultProgramFails) == 0) return wanted;
        Wear& w = WearOf(bankIndex, blockIndex);
        const std::uint32_t left = w.programs < w.programLimit ? w.programLimit - w.programs : 0;
        w.programs += wanted;
        return std::min(left, wanted);
    }

    // NAND programming: every cell can only go from 1 to 0. False when the block refuses it.
    bool ProgramPageAnd(std::size_t bankIndex, std::uint32_t page, const std::uint8_t* image) {
        Bank& bank = banks[bankIndex];
        const std::uint32_t ppb = bank.geometry.pagesPerBlock;
        if (ProgramsAllowed(bankIndex, page / ppb, 1) == 0) return false;
        ProgramPageBits(bank, page, image);
        return true;
    }

    void ProgramPageBits(Bank& bank, std::uint32_t page, const std::uint8_t* image) {
        const std::uint32_t ppb = bank.geometry.pagesPerBlock;
        Block& block = bank.blocks[page / ppb];
        if (!block.pages) {
            bool changes = false;
            for (std::size_t i = 0; i < kPageImageBytes && !changes; ++i) {
                changes = (block.fill & image[i]) != block.fill;
            }
            if (!changes) return;
        }
        std::uint8_t* cells = Materialize(bank, block) + (page % ppb) * kPageImageBytes;
        for (std::size_t i = 0; i < kPageImageBytes; ++i) cells[i] &= image[i];
    }

    // Programs `value` into data and spare of count pages from page on (count may cross
    // blocks), in order. False when a block refused a page: the pages before it are programmed,
    // the rest not.
    bool FillPagesAnd(std::size_t bankIndex, std::uint32_t page, std::uint32_t count,
                      std::uint8_t value) {
        Bank& bank = banks[bankIndex];
        const std::uint32_t ppb = bank.geometry.pagesPerBlock;
        while (count > 0) {
            Block& block = bank.blocks[page / ppb];
            const std::uint32_t first = page % ppb;
            const std::uint32_t wanted = std::min(count, ppb - first);
            const std::uint32_t n = ProgramsAllowed(bankIndex, page / ppb, wanted);
            if (n == 0 || (!block.pages && (block.fill & value) == block.fill)) {
                // nothing changes
            } else if (!block.pages && first == 0 && n == ppb) {
                block.fill &= value;
            } else {
                std::uint8_t* cells = Materialize(bank, block) + first * kPageImageBytes;
                for (std::size_t i = 0; i < n * kPageImageBytes; ++i) cells[i] &= value;
                CollapseIfUniform(bank, block);
            }
            if (n < wanted) return false;
            page += n;
            count -= n;
        }
        return true;
    }

    // A read command hands out one flipped bit per block it reads that still has flips to give:
    // the bytes of `count` pages from `page` on, `bytesPerPage` each, lie one after the other in
    // `out`. The cells keep what they hold.
    void FlipBits(std::size_t bankIndex, std::uint32_t page, std::uint32_t count,
                  std::size_t bytesPerPage, std::uint8_t* out) {
        const Bank& bank = banks[bankIndex];
        const std::uint32_t ppb = bank.geometry.pagesPerBlock;
        while (count > 0) {
            const std::uint32_t blockIndex = page / ppb;
            const std::uint32_t n = std::min(count, ppb - page % ppb);
            if (bank.blocks[blockIndex].faults & kFaultBitFlips) {
                Wear& w = WearOf(bankIndex, blockIndex);
                if (w.flipsLeft > 0) {
                    --w.flipsLeft;
                    const std::size_t bytes = n * bytesPerPage;
                    const std::uint32_t r = NextRandom(&w.random);
                    out[r % bytes] ^= static_cast<std::uint8_t>(1u << ((r >> 24) & 7));
                }
            }
            out += n * bytesPerPage;
            page += n;
            count -= n;
        }
    }

    void CollapseIfUniform(const Bank& bank, Block& block) {
        if (!block.pages) return;
        const std::uint8_t* cells = block.pages.get();
        const std::size_t bytes = BlockBytes(bank);
        for (std::size_t i = 1; i < bytes; ++i) {
            if (cells[i] != cells[0]) return;
        }
        SetUniform(block, cells[0]);
    }

    bool BlockMarked(std::size_t bankIndex, std::uint32_t block) const {
        std::uint8_t mark[kMarkBytes];
        const std::uint32_t page = block * banks[bankIndex].geometry.pagesPerBlock;
        ReadPageBytes(bankIndex, page, kMarkFirst, kMarkBytes, mark);
        return std::any_of(mark, mark + kMarkBytes, [](std::uint8_t b) { return b != 0xFF; });
    }

    std::uint32_t FindCisPage() const {
        if (banks.empty()) return kNoPage;
        const Bank& bank = banks[0];
        for (std::uint32_t b = 0; b < bank.geometry.blocksPerBank; ++b) {
            const std::uint32_t page = b * bank.geometry.pagesPerBlock;
            std::uint8_t head[4];
            ReadPageBytes(0, page, 0, sizeof head, head);
            if (std::memcmp(head, "USBC", 4) == 0 && !BlockMarked(0, b)) return page;
        }
        return kNoPage;
    }

    std::uint32_t CisTotal() const {
        const std::uint32_t page = FindCisPage();
        if (page == kNoPage) return 0;
        const std::size_t last = std::min(banks.size(), kCisTotalsCount) - 1;
        std::uint8_t total[4];
        ReadPageBytes(0, page, kCisTotalsOffset + 4 * last, sizeof total, total);
        return GetLe32(total);
    }

    // Whether the controller can build its sector map from the CIS page at `page`: every
    // group's count fits the group (at most 250, and no more than the unmarked blocks among its
    // first 255), groups and banks that do not exist offer nothing, and each bank's total is the
    // previous one plus its groups' blocks times its pages per block.
    bool CisPageConsistent(std::uint32_t page) const {
        std::uint8_t cis[kPageDataBytes];
        ReadPageBytes(0, page, 0, kPageDataBytes, cis);
        std::uint32_t running = 0;
        for (std::size_t b = 0; b < kCisTotalsCount; ++b) {
            const std::uint8_t* row = cis + kCisGroupTableOffset + kCisGroupsPerBank * b;
            const bool exists = b < banks.size();
            const std::uint32_t groups =
                exists ? (banks[b].geometry.blocksPerBank + kGroupBlocks - 1) / kGroupBlocks : 0;
            std::uint32_t blocks = 0;
            for (std::uint32_t g = 0; g < kCisGroupsPerBank; ++g) {
                if (row[g] == 0) continue;
                if (g >= groups || row[g] > kMaxGroupDataBlocks) return false;
                if (row[g] > UnmarkedBlocks(b, g * kGroupBlocks, kGroupBlocks - 1)) return false;
                blocks += row[g];
            }
            if (exists) running += blocks * banks[b].geometry.pagesPerBlock;
            const std::uint32_t total = GetLe32(cis + kCisTotalsOffset + 4 * b);
            if (total != (exists ? running : 0)) return false;
        }
        return true;
    }

    std::uint32_t UnmarkedBlocks(std::size_t bankIndex, std::uint32_t first,
                                 std::uint32_t count) const {
        const std::uint32_t end =
            std::min<std::uint32_t>(first + count, banks[bankIndex].geometry.blocksPerBank);
        std::uint32_t unmarked = 0;
        for (std::uint32_t b = first; b < end; ++b) {
            if (!BlockMarked(bankIndex, b)) ++unmarked;
        }
        return unmarked;
    }

    // --- Command plumbing ----------------------------------------------------------------------

    Outcome Check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq = 0) {
        sense = SenseCode{key, asc, ascq};
        return Outcome::CheckCondition;
    }

    Outcome Good() {
        sense = SenseCode{};
        return Outcome::Good;
    }

    // The data phase the host set up must be the one the command needs.
    static bool PhaseIs(Direction direction, std::uint32_t length, Direction wanted,
                        std::uint32_t wantedLength) {
        if (length != wantedLength) return false;
        return length == 0 || direction == wanted;
    }

    bool HasSelectedBank() const { return selectedBank < banks.size(); }

    void ReadSectorFrom(std::uint32_t lba, std::uint8_t* out) const;
    void WriteSectorTo(std::uint32_t lba, const std::uint8_t* in);

    Outcome Execute(const std::uint8_t* cdb, Direction direction, std::uint8_t* buffer,
                    std::uint32_t length);
    Outcome RequestSense(const std::uint8_t* cdb, Direction direction, std::uint8_t* buffer,
                         std::uint32_t length);
    Outcome Standard(const std::uint8_t* cdb, Direction direction, std::uint8_t* buffer,
                     std::uint32_t length);
    Outcome Vendor(const std::uint8_t* cdb, Direction direction, std::uint8_t* buffer,
                   std::uint32_t length);
    Outcome RawFlash(const std::uint8_t* cdb, Direction direction, std::uint8_t* buffer,
                     std::uint32_t length);
};

Outcome SimFlashDisk::Impl::Execute(const std::uint8_t* cdb, Direction direction,
                                    std::uint8_t* buffer, std::uint32_t length) {
    ++commandCounts[cdb[0]];
    if (cdb[0] == kOpRequestSense) {
        if (!OnlyUsedBytesSet(cdb)) return Check(kSenseIllegalRequest, kAscInvalidField);
        return RequestSense(cdb, direction, buffer, length);
    }

    if (unitAttention) {
        unitAttention = false;
        return Check(kSenseUnitAttention, attentionCode);
    }
    // The initializing command the stopped disk asks for gets through.
    if (stopped && cdb[0] != kOpStartStopUnit) {
        return Check(kSenseNotReady, kAscLunNotReady, kAscqInitRequired);
    }
    if (notReady) return Check(kSenseNotReady, kAscMediumNotPresent);
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

Outcome SimFlashDisk::Impl::RequestSense(const std::uint8_t* cdb, Direction direction,
                                         std::uint8_t* buffer, std::uint32_t length) {
    if (length > 0 && direction != Direction::In) {
        return Check(kSenseIllegalRequest, kAscInvalidField);
    }
    // A condition that stands reports itself when nothing else is pending.
    SenseCode report = sense;
    if (unitAttention) {
        report = SenseCode{kSenseUnitAttention, attentionCode, 0};
        unitAttention = false;
    } else if (report.key == 0 && stopped) {
        report = SenseCode{kSenseNotReady, kAscLunNotReady, kAscqInitRequired};
    } else if (report.key == 0 && notReady) {
        report = SenseCode{kSenseNotReady, kAscMediumNotPresent, 0};
    }
    const SenseBytes bytes = FormatSense(report);
    const std::uint32_t n = std::min<std::uint32_t>({length, cdb[4], kSenseBytes});
    if (n > 0) std::memcpy(buffer, bytes.data(), n);
    sense = SenseCode{};  // handed over: cleared
    return Outcome::Good;
}

Outcome SimFlashDisk::Impl::Standard(const std::uint8_t* cdb, Direction direction,
                                     std::uint8_t* buffer, std::uint32_t length) {
    switch (cdb[0]) {
        case kOpTestUnitReady:
            if (!PhaseIs(direction, length, Direction::None, 0)) break;
            return Good();
        case kOpStartStopUnit:
            if (!PhaseIs(direction, length, Direction::None, 0)) break;
            stopped = (cdb[4] & 0x01) == 0;  // START 0 stops, START 1 starts
            return Good();
        case kOpModeSense6: {
            // The operating system asks whether the medium is write-protected (all pages,
            // 3Fh, or none, 00h): a header of four bytes without block descriptors, with the
            // switch in the device-specific byte. The controller has no pages of its own.
            const std::uint8_t page = cdb[2] & 0x3F;
            if (page != 0x00 && page != 0x3F) break;
            if (length > 0 && direction != Direction::In) break;
            const std::uint8_t header[4] = {
                3, 0, writeProtected ? std::uint8_t{0x80} : std::uint8_t{0}, 0};
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
            if (sectorCount == 0) return Check(kSenseMediumError, kAscFormatCorrupted);
            PutBe32(buffer, sectorCount - 1);
            PutBe32(buffer + 4, static_cast<std::uint32_t>(kSectorBytes));
            return Good();
        case kOpRead10:
        case kOpWrite10: {
            const bool write = cdb[0] == kOpWrite10;
            const std::uint32_t lba = GetBe32(cdb + 2);
            const std::uint32_t count = GetBe16(cdb + 7);
            if (!PhaseIs(direction, length, write ? Direction::Out : Direction::In,
                         count * static_cast<std::uint32_t>(kSectorBytes))) {
                break;
            }
            if (lba >= sectorCount || count > sectorCount - lba) {
                return Check(kSenseIllegalRequest, kAscLbaOutOfRange);
            }
            if (write && writeProtected) return Check(kSenseDataProtect, kAscWriteProtected);
            for (std::uint32_t i = 0; i < count; ++i) {
                std::uint8_t* data = buffer + i * kSectorBytes;
                if (write) {
                    WriteSectorTo(lba + i, data);
                } else {
                    ReadSectorFrom(lba + i, data);
                }
            }
            return Good();
        }
        default:
            break;
    }
    return Check(kSenseIllegalRequest, kAscInvalidField);
}

Outcome SimFlashDisk::Impl::Vendor(const std::uint8_t* cdb, Direction direction,
                                   std::uint8_t* buffer, std::uint32_t length) {
    switch (cdb[0]) {
        case kOpSelectBank:
            if (!PhaseIs(direction, length, Direction::None, 0)) break;
            if (cdb[1] >= banks.size()) break;
            selectedBank = cdb[1];
            return Good();
        case kOpReadDeviceCode:
        case kOpGetBankCount: {
            // One byte of answer; a host that can only move an even count asks for two.
            if (direction != Direction::In || (length != 1 && length != 2)) break;
            std::uint8_t value = 0;
            if (cdb[0] == kOpGetBankCount) {
                value = reportedBankCountOverridden ? reportedBankCount
                                                    : static_cast<std::uint8_t>(banks.size());
            } else {
                if (!HasSelectedBank()) return Check(kSenseIllegalRequest, kAscLbaOutOfRange);
                value = banks[selectedBank].geometry.deviceCode;
            }
            buffer[0] = value;
            if (length == 2) buffer[1] = 0;
            return Good();
        }
        case kOpReadCisPageNumber: {
            if (!PhaseIs(direction, length, Direction::In, 4)) break;
            const std::uint32_t page = FindCisPage();
            PutLe32(buffer, page);
            return Good();
        }
        case kOpVendorC4: {
            if (!PhaseIs(direction, length, Direction::None, 0)) break;
            // The controller reloads its tables from the CIS page: the logical disk takes
            // the size it gives and starts empty. A page whose counts do not add up leaves it
            // without a usable map: no disk at all rather than one that loses data.
            const std::uint32_t cisPage = FindCisPage();
            if (cisPage == kNoPage) return Check(kSenseMediumError, kAscFormatCorrupted);
            sectors.clear();
            if (!CisPageConsistent(cisPage)) {
                sectorCount = 0;
                return Check(kSenseMediumError, kAscFormatCorrupted);
            }
            sectorCount = CisTotal();
            return Good();
        }
        case kOpVendorFE:
            if (!PhaseIs(direction, length, Direction::None, 0)) break;
            lastFeValue = cdb[2];
            return Good();
        default:
            break;
    }
    return Check(kSenseIllegalRequest, kAscInvalidField);
}

Outcome SimFlashDisk::Impl::RawFlash(const std::uint8_t* cdb, Direction direction,
                                     std::uint8_t* buffer, std::uint32_t length) {
    if (!HasSelectedBank()) return Check(kSenseIllegalRequest, kAscLbaOutOfRange);
    Bank& bank = banks[selectedBank];
    const BankGeometry& g = bank.geometry;
    const std::uint32_t pagesInBank = g.PagesPerBank();
    const std::uint8_t op = cdb[0];

    // Where each command carries its page, and how many pages it touches.
    std::uint32_t page = 0;
    std::uint32_t count = 1;
    switch (op) {
        case kOpEraseBlock:
        case kOpMarkBlockBad:
            page = GetLe32(cdb + 2);
            count = g.pagesPerBlock;
            break;
        case kOpReadRedundantArea:
        case kOpReadBlockData:
            page = GetLe24(cdb + 2);
            count = cdb[5];
            break;
        case kOpReadPageWithSpare:
            page = GetLe24(cdb + 2);
            break;
        case kOpWritePageWithSpare:
            page = GetLe32(cdb + 7);
            break;
        case kOpFillBlockPattern:
            page = GetLe32(cdb + 7);
            count = cdb[5];
            break;
        default:
            break;
    }

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
    if (page >= pagesInBank || count > pagesInBank - page) {
        return Check(kSenseIllegalRequest, kAscLbaOutOfRange);
    }
    const bool blockCommand = op == kOpEraseBlock || op == kOpMarkBlockBad;
    if (blockCommand && page % g.pagesPerBlock != 0) {
        return Check(kSenseIllegalRequest, kAscInvalidField);
    }
    const bool writes = op == kOpEraseBlock || op == kOpMarkBlockBad ||
                        op == kOpWritePageWithSpare || op == kOpFillBlockPattern;
    if (writes && writeProtected) return Check(kSenseDataProtect, kAscWriteProtected);

    const std::uint32_t blockIndex = page / g.pagesPerBlock;
    switch (op) {
        case kOpEraseBlock: {
            Block& block = bank.blocks[blockIndex];
            const std::uint32_t erasesBefore = block.erases++;
            if ((block.faults & kFaultEraseFails) &&
                erasesBefore >= WearOf(selectedBank, blockIndex).eraseLimit) {
                return Check(kSenseMediumError, kAscEraseFailure);
            }
            SetUniform(block, 0xFF);
            return Good();
        }
        case kOpMarkBlockBad: {
            if (bank.blocks[blockIndex].faults & kFaultMarkDoesNotStick) return Good();
            PageBytes image;
            image.fill(0xFF);
            std::fill_n(image.begin() + kMarkFirst, kMarkBytes, 0x00);
            // The mark is written whatever the block's wear: it is what marks are for.
            ProgramPageBits(bank, page, image.data());
            return Good();
        }
        case kOpReadRedundantArea:
            for (std::uint32_t i = 0; i < count; ++i) {
                ReadPageBytes(selectedBank, page + i, kPageDataBytes, g.spareBytesPerPage,
                              buffer + i * g.spareBytesPerPage);
            }
            FlipBits(selectedBank, page, count, g.spareBytesPerPage, buffer);
            return Good();
        case kOpReadBlockData:
            for (std::uint32_t i = 0; i < count; ++i) {
                ReadPageBytes(selectedBank, page + i, 0, kPageDataBytes,
                              buffer + i * kPageDataBytes);
            }
            FlipBits(selectedBank, page, count, kPageDataBytes, buffer);
            return Good();
        case kOpReadPageWithSpare:
            ReadPageBytes(selectedBank, page, 0, kPageImageBytes, buffer);
            FlipBits(selectedBank, page, 1, kPageImageBytes, buffer);
            return Good();
        case kOpWritePageWithSpare:
            if (!ProgramPageAnd(selectedBank, page, buffer)) {
                return Check(kSenseMediumError, kAscWriteError);
            }
            return Good();
        case kOpFillBlockPattern:
            if (!FillPagesAnd(selectedBank, page, count, cdb[1])) {
                return Check(kSenseMediumError, kAscWriteError);
            }
            return Good();
        default:
            break;
    }
    return Check(kSenseIllegalRequest, kAscInvalidOpcode);
}

// --- Logical sectors -----------------------------------------------------------------------------

void SimFlashDisk::Impl::ReadSectorFrom(std::uint32_t lba, std::uint8_t* out) const {
    const auto it = sectors.find(lba);
    if (it == sectors.end()) {
        std::memset(out, 0, kSectorBytes);
    } else {
        std::memcpy(out, it->second.get(), kSectorBytes);
    }
}

void SimFlashDisk::Impl::WriteSectorTo(std::uint32_t lba, const std::uint8_t* in) {
    const bool empty = std::all_of(in, in + kSectorBytes, [](std::uint8_t b) { return b == 0; });
    if (empty) {
        sectors.erase(lba);
        return;
    }
    std::unique_ptr<std::uint8_t[]>& slot = sectors[lba];
    if (!slot) slot.reset(new std::uint8_t[kSectorBytes]);
    std::memcpy(slot.get(), in, kSectorBytes);
}

// --- SimFlashDisk --------------------------------------------------------------------------------

SimFlashDisk::SimFlashDisk() : impl_(new Impl) {}
SimFlashDisk::~SimFlashDisk() = default;

void SimFlashDisk::AddBank(std::uint8_t deviceCode) {
    Bank bank;
    bank.geometry = GeometryForDeviceCode(deviceCode);
    bank.blocks.resize(bank.geometry.blocksPerBank);
    impl_->banks.push_back(std::move(bank));
}

std::size_t SimFlashDisk::BankCount() const { return impl_->banks.size(); }

std::uint8_t SimFlashDisk::DeviceCode(std::size_t bank) const {
    return impl_->banks.at(bank).geometry.deviceCode;
}

const BankGeometry& SimFlashDisk::Geometry(std::size_t bank) const {
    return impl_->banks.at(bank).geometry;
}

void SimFlashDisk::OverrideReportedBankCount(std::uint8_t count) {
    impl_->reportedBankCountOverridden = true;
    impl_->reportedBankCount = count;
}

std::uint8_t SimFlashDisk::ReportedBankCount() const {
    return impl_->reportedBankCountOverridden ? impl_->reportedBankCount
                                              : static_cast<std::uint8_t>(impl_->banks.size());
}

std::uint8_t SimFlashDisk::SelectedBank() const { return impl_->selectedBank; }

PageBytes SimFlashDisk::ReadPage(std::size_t bank, std::uint32_t page) const {
    PageBytes image;
    if (bank >= impl_->banks.size() || page >= impl_->banks[bank].geometry.PagesPerBank()) {
        image.fill(0);
        return image;
    }
    impl_->ReadPageBytes(bank, page, 0, kPageImageBytes, image.data());
    return image;
}

void SimFlashDisk::ProgramPageRaw(std::size_t bank, std::uint32_t page,
                                  const std::uint8_t* image528) {
    Bank& b = impl_->banks.at(bank);
    if (page >= b.geometry.PagesPerBank()) return;
    const std::uint32_t ppb = b.geometry.pagesPerBlock;
    std::uint8_t* cells = impl_->Materialize(b, b.blocks[page / ppb]);
    std::memcpy(cells + (page % ppb) * kPageImageBytes, image528, kPageImageBytes);
}

void SimFlashDisk::FillBlockRaw(std::size_t bank, std::uint32_t block, std::uint8_t value) {
    impl_->SetUniform(impl_->banks.at(bank).blocks.at(block), value);
}

bool SimFlashDisk::IsMarkedBad(std::size_t bank, std::uint32_t block) const {
    if (bank >= impl_->banks.size() || block >= impl_->banks[bank].blocks.size()) return false;
    return impl_->BlockMarked(bank, block);
}

void SimFlashDisk::SetFactoryBad(std::size_t bank, std::uint32_t block) {
    Bank& b = impl_->banks.at(bank);
    std::uint8_t* cells = impl_->Materialize(b, b.blocks.at(block));
    std::fill_n(cells + kMarkFirst, kMarkBytes, 0x00);
}

void SimFlashDisk::SetEraseFails(std::size_t bank, std::uint32_t block, bool fails) {
    if (fails) {
        SetEraseFailsAfter(bank, block, 0);
        return;
    }
    Block& b = impl_->banks.at(bank).blocks.at(block);
    b.faults = static_cast<std::uint8_t>(b.faults & ~kFaultEraseFails);
}

void SimFlashDisk::SetEraseFailsAfter(std::size_t bank, std::uint32_t block, std::uint32_t erases) {
    Block& b = impl_->banks.at(bank).blocks.at(block);
    b.faults |= kFaultEraseFails;
    impl_->WearOf(bank, block).eraseLimit = erases;
}

void SimFlashDisk::SetProgramFailsAfter(std::size_t bank, std::uint32_t block,
                                        std::uint32_t programs) {
    Block& b = impl_->banks.at(bank).blocks.at(block);
    b.faults |= kFaultProgramFails;
    Wear& w = impl_->WearOf(bank, block);
    w.programLimit = programs;
    w.programs = 0;
}

void SimFlashDisk::SetBitFlips(std::size_t bank, std::uint32_t block, std::uint32_t budget,
                               std::uint32_t seed) {
    Block& b = impl_->banks.at(bank).blocks.at(block);
    b.faults |= kFaultBitFlips;
    Wear& w = impl_->WearOf(bank, block);
    w.flipsLeft = budget;
    // A state of its own per block, never 0 (xorshift stays at 0).
    w.random = (seed * 2654435761u) ^ static_cast<std::uint32_t>(BlockKey(bank, block) * 40503u);
    if (w.random == 0) w.random = 1;
}

std::uint32_t SimFlashDisk::EraseCount(std::size_t bank, std::uint32_t block) const {
    return impl_->banks.at(bank).blocks.at(block).erases;
}

std::uint32_t SimFlashDisk::BitFlipsLeft(std::size_t bank, std::uint32_t block) const {
    const auto it = impl_->wear.find(BlockKey(bank, block));
    return it == impl_->wear.end() ? 0 : it->second.flipsLeft;
}

void SimFlashDisk::SetStuckBits(std::size_t bank, std::uint32_t block, StuckBits bits) {
    Bank& b = impl_->banks.at(bank);
    Block& blk = b.blocks.at(block);
    bits.pageInBlock = static_cast<std::uint8_t>(bits.pageInBlock % b.geometry.pagesPerBlock);
    bits.byteOffset = static_cast<std::uint16_t>(bits.byteOffset % kPageImageBytes);
    impl_->stuck[BlockKey(bank, block)] = bits;
    blk.faults |= kFaultStuckBits;
}

void SimFlashDisk::SetMarkDoesNotStick(std::size_t bank, std::uint32_t block, bool doesNotStick) {
    Block& b = impl_->banks.at(bank).blocks.at(block);
    b.faults =
        doesNotStick ? (b.faults | kFaultMarkDoesNotStick) : (b.faults & ~kFaultMarkDoesNotStick);
}

void SimFlashDisk::SetWriteProtected(bool on) { impl_->writeProtected = on; }
bool SimFlashDisk::WriteProtected() const { return impl_->writeProtected; }
void SimFlashDisk::SetNotReady(bool on) { impl_->notReady = on; }
bool SimFlashDisk::NotReady() const { return impl_->notReady; }
void SimFlashDisk::RaiseUnitAttention() {
    impl_->unitAttention = true;
    impl_->attentionCode = kAscMediumChanged;
}
bool SimFlashDisk::UnitAttentionPending() const { return impl_->unitAttention; }
bool SimFlashDisk::Stopped() const { return impl_->stopped; }

void SimFlashDisk::PowerCycle() {
    impl_->stopped = false;
    impl_->selectedBank = 0;
    impl_->sense = SenseCode{};
    impl_->unitAttention = true;
    impl_->attentionCode = kAscMediumChanged;
}

void SimFlashDisk::Reset() {
    PowerCycle();
    impl_->attentionCode = kAscResetOccurred;
}

std::uint32_t SimFlashDisk::CisPageNumber() const { return impl_->FindCisPage(); }
std::uint32_t SimFlashDisk::CisSectorTotal() const { return impl_->CisTotal(); }
std::uint32_t SimFlashDisk::SectorCount() const { return impl_->sectorCount; }

void SimFlashDisk::SetSectorCount(std::uint32_t sectors) {
    impl_->sectorCount = sectors;
    for (auto it = impl_->sectors.begin(); it != impl_->sectors.end();) {
        it = it->first >= sectors ? impl_->sectors.erase(it) : std::next(it);
    }
}

bool SimFlashDisk::ReadSector(std::uint32_t lba, std::uint8_t* out512) const {
    if (lba >= impl_->sectorCount) return false;
    impl_->ReadSectorFrom(lba, out512);
    return true;
}

bool SimFlashDisk::WriteSector(std::uint32_t lba, const std::uint8_t* in512) {
    if (lba >= impl_->sectorCount) return false;
    impl_->WriteSectorTo(lba, in512);
    return true;
}

bool SimFlashDisk::ExportImage(const std::string& path, std::string* error) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!ExportImage(out, nullptr)) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    return true;
}

bool SimFlashDisk::ExportImage(std::ostream& out, std::string* error) const {
    std::vector<std::uint32_t> used;
    used.reserve(impl_->sectors.size());
    for (const auto& entry : impl_->sectors) used.push_back(entry.first);
    std::sort(used.begin(), used.end());
    for (std::uint32_t lba : used) {
        out.seekp(static_cast<std::streamoff>(lba) * kSectorBytes);
        out.write(reinterpret_cast<const char*>(impl_->sectors.at(lba).get()), kSectorBytes);
    }
    // The sectors never written read as zeros: past the last one written the file only needs
    // its full length, which its last byte gives it (the rest stays a hole).
    const std::streamoff length = static_cast<std::streamoff>(impl_->sectorCount) * kSectorBytes;
    if (length > 0 && (used.empty() || used.back() + 1 < impl_->sectorCount)) {
        out.seekp(length - 1);
        out.put('\0');
    }
    out.flush();
    if (!out) {
        if (error) *error = "cannot write the image";
        return false;
    }
    return true;
}

bool SimFlashDisk::ExportBankPages(std::size_t bank, std::uint32_t firstPage, std::uint32_t count,
                                   const std::string& path, std::string* error) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::string reason;
    if (!ExportBankPages(bank, firstPage, count, out, &reason)) {
        if (error) *error = out ? reason : "cannot write " + path;
        return false;
    }
    return true;
}

bool SimFlashDisk::ExportBankPages(std::size_t bank, std::uint32_t firstPage, std::uint32_t count,
                                   std::ostream& out, std::string* error) const {
    if (bank >= impl_->banks.size()) {
        if (error) *error = "no bank " + std::to_string(bank);
        return false;
    }
    const std::uint32_t pages = impl_->banks[bank].geometry.PagesPerBank();
    if (firstPage >= pages || count > pages - firstPage) {
        if (error) *error = "pages out of range of bank " + std::to_string(bank);
        return false;
    }
    PageBytes image;
    for (std::uint32_t i = 0; i < count && out; ++i) {
        impl_->ReadPageBytes(bank, firstPage + i, 0, kPageImageBytes, image.data());
        out.write(reinterpret_cast<const char*>(image.data()), kPageImageBytes);
    }
    out.flush();
    if (!out) {
        if (error) *error = "cannot write the pages";
        return false;
    }
    return true;
}

Outcome SimFlashDisk::Execute(const std::uint8_t cdb[12], Direction direction, std::uint8_t* buffer,
                              std::uint32_t length) {
    if (length > 0 && buffer == nullptr) {
        impl_->sense = SenseCode{kSenseIllegalRequest, kAscInvalidField, 0};
        return Outcome::CheckCondition;
    }
    return impl_->Execute(cdb, direction, buffer, length);
}

SenseBytes SimFlashDisk::PendingSense() const { return FormatSense(impl_->sense); }
SenseCode SimFlashDisk::PendingSenseCode() const { return impl_->sense; }

std::uint64_t SimFlashDisk::CommandCount(std::uint8_t opcode) const {
    return impl_->commandCounts[opcode];
}

int SimFlashDisk::LastVendorFEValue() const { return impl_->lastFeValue; }

std::size_t SimFlashDisk::StoredBytes() const {
    std::size_t bytes = impl_->sectors.size() * kSectorBytes;
    for (const Bank& bank : impl_->banks) {
        for (const Block& block : bank.blocks) {
            if (block.pages) bytes += impl_->BlockBytes(bank);
        }
    }
    return bytes;
}

}  // namespace sim
