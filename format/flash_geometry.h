#pragma once
#include <cstddef>
#include <cstdint>

// One record of the flash device-code table: what a one-byte NAND device code says about the
// bank behind it.
struct FlashGeometry {
    std::uint8_t deviceCode;         // as ReadDeviceCode reports it; 0xFF ends the table
    std::uint16_t pageDataBytes;     // 256 or 512 (carried, not consulted)
    std::uint8_t spareBytesPerPage;  // 8 or 16: per-page length of a redundant-area read
    std::uint8_t pagesPerBlock;      // 16 or 32
    std::uint8_t deviceFlags;        // 0x08 small-page parts, 0x20 the two largest (carried)
    std::uint16_t blocksPerBank;     // erase blocks in one bank
};

// The known parts followed by the end marker (device code 0xFF, every other field all ones).
constexpr std::size_t kFlashGeometryCount = 13;
extern const FlashGeometry FlashGeometryTable[kFlashGeometryCount + 1];

// The largest part's block count: a bank never has more than 32 groups of 256 blocks.
constexpr std::uint16_t kMaxBlocksPerBank = 8192;

// The record for deviceCode, or nullptr when the code is unknown (0xFF is the end marker, not a
// device).
const FlashGeometry* LookupFlashGeometry(std::uint8_t deviceCode);
