#pragma once
#include <cstddef>
#include <cstdint>

#include "format/flash_geometry.h"
#include "reader/reader_unit.h"

// Probes of single flash blocks and of the medium, built on the reader's raw-flash commands.
// Page numbers are absolute within the selected bank; the first page of block B is
// B x pagesPerBlock. A failed command turns into the probe's negative answer.

// Pattern argument of TestBlockPattern that selects the ascending page image instead of a byte.
constexpr int AscendingSelector = 0x100;

// True when every byte of the range is 0xFF (true for length 0).
bool IsAllFF(const std::uint8_t* buffer, std::size_t length);

// True when the redundant bytes 0-5 of the block's first page are all 0xFF. A failed read counts
// as marked.
bool IsBlockUnmarked(ReaderUnit& unit, std::uint32_t block, const FlashGeometry& geometry);
bool IsBlockMarked(ReaderUnit& unit, std::uint32_t block, const FlashGeometry& geometry);

// True when the block is usable: not marked bad, and not a blank-looking block holding data.
// A failed read counts as bad.
bool IsBlockGood(ReaderUnit& unit, std::uint32_t block, const FlashGeometry& geometry);

// Surface test of one block. pattern is a byte value 0x00-0xFF or AscendingSelector. For a byte
// pattern, eraseAndFill first erases the block and fills it with the byte; without it the block
// is only read back (the erase verification with 0xFF). eraseAndFill is ignored for the
// ascending pattern, which always erases and writes page by page.
bool TestBlockPattern(ReaderUnit& unit, std::uint32_t block, const FlashGeometry& geometry,
                      int pattern, bool eraseAndFill = true);

// True when the medium refuses a write as write-protected. A stick without a CIS page is probed
// on the first unmarked block from block 1 on; three reads in a row that get no answer at all
// (the stick is gone or has locked up) end the search with false.
bool IsWriteProtected(ReaderUnit& unit);
