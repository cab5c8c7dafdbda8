#include "format/block_probes.h"

#include <cstring>
#include <memory>
#include <new>

#include "format/page_image.h"
#include "reader/reader_unit.h"

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

bool IsBlockUnmarked(ReaderUnit& unit, std::uint32_t block, const FlashGeometry& geometry) {
    // Cleared first: a read that fails leaves zeros, which count as a bad-block mark.
    std::uint8_t spare[16] = {};
    unit.ReadRedundantArea(block * geometry.pagesPerBlock, 1, geometry.spareBytesPerPage, spare);
    return IsAllFF(spare, kBadMarkBytes);
}

bool IsBlockMarked(ReaderUnit& unit, std::uint32_t block, const FlashGeometry& geometry) {
    return !IsBlockUnmarked(unit, block, geometry);
}

bool IsBlockGood(ReaderUnit& unit, std::uint32_t block, const FlashGeometry& geometry) {
    PageImage image{};  // zeros: a failed read reads as a marked block
    unit.ReadPageWithSpare(block * geometry.pagesPerBlock, geometry.pagesPerBlock, image.data());
    if (!IsAllFF(&image[kBadMarkOffset], kBadMarkBytes)) return false;
    // A block that says it is blank must really be blank; one with data in it cannot be trusted.
    if (IsAllFF(&image[kBlankMarkOffset], kBlankMarkBytes))
        return IsAllFF(image.data(), kPageDataBytes);
    return true;
}

namespace {

bool TestAscending(ReaderUnit& unit, std::uint32_t block, const FlashGeometry& geometry,
                   std::uint8_t* work) {
    const std::uint8_t pages = geometry.pagesPerBlock;
    const std::uint32_t first = block * pages;
    if (!unit.EraseBlock(block, pages).Good()) return false;
    const PageImage& pattern = AscendingPattern();
    for (std::uint32_t page = first; page < first + pages; ++page) {
        if (!unit.WritePageWithSpare(page, pages, pattern.data()).Good()) return false;
        if (!unit.ReadPageWithSpare(page, pages, work).Good()) return false;
        if (std::memcmp(work, pattern.data(), kPageImageBytes) != 0) return false;
    }
    return true;
}

bool TestBytePattern(ReaderUnit& unit, std::uint32_t block, const FlashGeometry& geometry,
                     std::uint8_t value, bool eraseAndFill, std::uint8_t* work) {
    const std::uint8_t pages = geometry.pagesPerBlock;
    const std::uint32_t first = block * pages;
    if (eraseAndFill) {
        if (!unit.EraseBlock(block, pages).Good()) return false;
        if (!unit.FillBlockPattern(first, pages, value).Good()) return false;
    }
    const std::size_t dataBytes = std::size_t{pages} * kPageDataBytes;
    if (!unit.ReadBlockData(first, pages, pages, kPageDataBytes, work).Good()) return false;
    if (!AllEqual(work, dataBytes, value)) return false;
    const std::size_t spareBytes = std::size_t{pages} * geometry.spareBytesPerPage;
    if (!unit.ReadRedundantArea(first, pages, geometry.spareBytesPerPage, work).Good())
        return false;
    return AllEqual(work, spareBytes, value);
}

}  // namespace

bool TestBlockPattern(ReaderUnit& unit, std::uint32_t block, const FlashGeometry& geometry,
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

// Block reads in a row without an answer after which the raw probe stops.
constexpr std::uint32_t kUnansweredReadsBeforeGivingUp = 3;

// Writes back what was just read and judges the answer: a write that is refused as
// write-protected is the only proof of protection.
bool RefusedAsProtected(bool writeSucceeded, ReaderUnit& unit) {
    if (writeSucceeded) return false;
    return unit.GetSenseStatus() == SenseDataProtect;
}

bool ProbeRawBlocks(ReaderUnit& unit) {
    unit.SelectBank(0);
    std::uint8_t code[2] = {};  // cleared: a failed read gives an unknown code
    unit.ReadDeviceCode(code);
    const FlashGeometry* geometry = LookupFlashGeometry(code[0]);
    if (geometry == nullptr) return false;
    PageImage image{};
    std::uint32_t unansweredInARow = 0;
    for (std::uint32_t block = 1; block < geometry->blocksPerBank; ++block) {
        const std::uint32_t page = block * geometry->pagesPerBlock;
        const CommandOutcome read =
            unit.ReadPageWithSpare(page, geometry->pagesPerBlock, image.data());
        if (!read.Good()) {
            // A few reads in a row without any answer (time-out, no device, or the host's error):
            // the stick is gone or has locked up, and
            // asking the rest of its blocks would only wait out a time-out for each.
            unansweredInARow = read.Unheard() ? unansweredInARow + 1 : 0;
            if (unansweredInARow == kUnansweredReadsBeforeGivingUp) return false;
            continue;
        }
        unansweredInARow = 0;
        if (!IsAllFF(&image[kBadMarkOffset], kBadMarkBytes)) continue;
        return RefusedAsProtected(
            unit.WritePageWithSpare(page, geometry->pagesPerBlock, image.data()).Good(), unit);
    }
    return false;
}

bool ProbeLogicalSectors(ReaderUnit& unit) {
    std::uint8_t sector[kSectorSize];
    for (std::uint32_t lba = 1; lba <= 9; ++lba) {
        if (unit.ReadSectors(lba, 1, sector).Good()) {
            return RefusedAsProtected(unit.WriteSectors(lba, 1, sector).Good(), unit);
        }
        unit.GetSenseStatus();  // clears the pending sense before the next read
    }
    return false;
}

}  // namespace

bool IsWriteProtected(ReaderUnit& unit) {
    if (!unit.TestUnitReady().Good() && unit.GetSenseStatus() != SenseUnitAttention) return false;
    if (unit.Key() == kMediaUsbDisk) {
        std::uint32_t cisPage = 0xFFFFFFFFu;
        if (!unit.ReadCisPageNumber(&cisPage).Good()) cisPage = 0xFFFFFFFFu;
        // Without a CIS page there is no file system to probe: try a raw page instead.
        if (cisPage == 0xFFFFFFFFu) return ProbeRawBlocks(unit);
    }
    return ProbeLogicalSectors(unit);
}
