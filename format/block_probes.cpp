#include "format/block_probes.h"

#include <cstring>
#include <memory>
#include <new>

#include "format/page_image.h"
#include "reader/commands.h"
#include "reader/sense.h"
#include "reader/unit_command.h"

namespace {

// Compared a machine word at a time: the surface tests read back every byte of every block, and
// a byte-by-byte loop was most of a Full format's host time.
bool AllEqual(const std::uint8_t* buffer, std::size_t length, std::uint8_t value) {
    const std::uint64_t word = 0x0101010101010101ull * value;
    std::size_t i = 0;
    for (; i + sizeof word <= length; i += sizeof word) {
        std::uint64_t chunk;
        std::memcpy(&chunk, buffer + i, sizeof chunk);
        if (chunk != word) return false;
    }
    for (; i < length; ++i) {
        if (buffer[i] != value) return false;
    }
    return true;
}

}  // namespace

bool IsAllFF(const std::uint8_t* buffer, std::size_t length) {
    return AllEqual(buffer, length, 0xFF);
}

bool IsBlockUnmarked(MediaType unit, std::uint32_t block, const FlashGeometry& geometry) {
    // Cleared first: a read that fails leaves zeros, which count as a bad-block mark.
    std::uint8_t spare[16] = {};
    ReadRedundantArea(unit, block * geometry.pagesPerBlock, 1, geometry.spareBytesPerPage, spare);
    return IsAllFF(spare, kBadMarkBytes);
}

bool IsBlockMarked(MediaType unit, std::uint32_t block, const FlashGeometry& geometry) {
    return !IsBlockUnmarked(unit, block, geometry);
}

bool IsBlockGood(MediaType unit, std::uint32_t block, const FlashGeometry& geometry) {
    PageImage image{};  // zeros: a failed read reads as a marked block
    ReadPageWithSpare(unit, block * geometry.pagesPerBlock, geometry.pagesPerBlock, image.data());
    if (!IsAllFF(&image[kBadMarkOffset], kBadMarkBytes)) return false;
    // A block that says it is blank must really be blank; one with data in it cannot be trusted.
    if (IsAllFF(&image[kBlankMarkOffset], kBlankMarkBytes))
        return IsAllFF(image.data(), kPageDataBytes);
    return true;
}

namespace {

bool TestAscending(MediaType unit, std::uint32_t block, const FlashGeometry& geometry,
                   std::uint8_t* work) {
    const std::uint8_t pages = geometry.pagesPerBlock;
    const std::uint32_t first = block * pages;
    if (!EraseBlock(unit, block, pages)) return false;
    const PageImage& pattern = AscendingPattern();
    for (std::uint32_t page = first; page < first + pages; ++page) {
        if (!WritePageWithSpare(unit, page, pages, pattern.data())) return false;
        if (!ReadPageWithSpare(unit, page, pages, work)) return false;
        if (std::memcmp(work, pattern.data(), kPageImageBytes) != 0) return false;
    }
    return true;
}

bool TestBytePattern(MediaType unit, std::uint32_t block, const FlashGeometry& geometry,
                     std::uint8_t value, bool eraseAndFill, std::uint8_t* work) {
    const std::uint8_t pages = geometry.pagesPerBlock;
    const std::uint32_t first = block * pages;
    if (eraseAndFill) {
        if (!EraseBlock(unit, block, pages)) return false;
        if (!FillBlockPattern(unit, first, pages, value)) return false;
    }
    const std::size_t dataBytes = std::size_t{pages} * kPageDataBytes;
    if (!ReadBlockData(unit, first, pages, pages, kPageDataBytes, work)) return false;
    if (!AllEqual(work, dataBytes, value)) return false;
    const std::size_t spareBytes = std::size_t{pages} * geometry.spareBytesPerPage;
    if (!ReadRedundantArea(unit, first, pages, geometry.spareBytesPerPage, work)) return false;
    return AllEqual(work, spareBytes, value);
}

}  // namespace

bool TestBlockPattern(MediaType unit, std::uint32_t block, const FlashGeometry& geometry,
                      int pattern, bool eraseAndFill) {
    // The whole block's data (the largest transfer of the test); at least one page image, which
    // the ascending test reads into.
    std::size_t workBytes = std::size_t{geometry.pagesPerBlock} * kPageDataBytes;
    if (workBytes < kPageImageBytes) workBytes = kPageImageBytes;
    std::unique_ptr<std::uint8_t[]> work(new (std::nothrow) std::uint8_t[workBytes]);
    if (!work) return false;  // an exhausted heap fails the test; the block gets marked bad
    if (pattern == AscendingSelector) return TestAscending(unit, block, geometry, work.get());
    return TestBytePattern(unit, block, geometry, static_cast<std::uint8_t>(pattern), eraseAndFill,
                           work.get());
}

namespace {

// Nothing was heard of the last command to the unit (time-out, no device, or the host's error).
bool Unanswered(MediaType unit) { return LastUnitOutcome(unit).Unheard(); }

// Block reads in a row without an answer after which the raw probe stops.
constexpr std::uint32_t kUnansweredReadsBeforeGivingUp = 3;

// Writes back what was just read and judges the answer: a write that is refused as
// write-protected is the only proof of protection.
bool RefusedAsProtected(bool writeSucceeded, MediaType unit) {
    if (writeSucceeded) return false;
    return GetSenseStatus(unit) == SenseDataProtect;
}

bool ProbeRawBlocks(MediaType unit) {
    SelectBank(unit, 0);
    std::uint8_t code[2] = {};  // cleared: a failed read gives an unknown code
    ReadDeviceCode(unit, code);
    const FlashGeometry* geometry = LookupFlashGeometry(code[0]);
    if (geometry == nullptr) return false;
    PageImage image{};
    std::uint32_t unansweredInARow = 0;
    for (std::uint32_t block = 1; block < geometry->blocksPerBank; ++block) {
        const std::uint32_t page = block * geometry->pagesPerBlock;
        if (!ReadPageWithSpare(unit, page, geometry->pagesPerBlock, image.data())) {
            // A few reads in a row without any answer: the stick is gone or has locked up, and
            // asking the rest of its blocks would only wait out a time-out for each.
            unansweredInARow = Unanswered(unit) ? unansweredInARow + 1 : 0;
            if (unansweredInARow == kUnansweredReadsBeforeGivingUp) return false;
            continue;
        }
        unansweredInARow = 0;
        if (!IsAllFF(&image[kBadMarkOffset], kBadMarkBytes)) continue;
        return RefusedAsProtected(
            WritePageWithSpare(unit, page, geometry->pagesPerBlock, image.data()) != 0, unit);
    }
    return false;
}

bool ProbeLogicalSectors(MediaType unit) {
    std::uint8_t sector[kSectorSize];
    for (std::uint32_t lba = 1; lba <= 9; ++lba) {
        if (ReadSectors(unit, lba, 1, sector)) {
            return RefusedAsProtected(WriteSectors(unit, lba, 1, sector) != 0, unit);
        }
        GetSenseStatus(unit);  // clears the pending sense before the next read
    }
    return false;
}

}  // namespace

bool IsWriteProtected(MediaType unit) {
    if (!TestUnitReady(unit) && GetSenseStatus(unit) != SenseUnitAttention) return false;
    if (unit == kMediaUsbDisk) {
        std::uint32_t cisPage = 0xFFFFFFFFu;
        if (!ReadCisPageNumber(unit, &cisPage)) cisPage = 0xFFFFFFFFu;
        // Without a CIS page there is no file system to probe: try a raw page instead.
        if (cisPage == 0xFFFFFFFFu) return ProbeRawBlocks(unit);
    }
    return ProbeLogicalSectors(unit);
}
