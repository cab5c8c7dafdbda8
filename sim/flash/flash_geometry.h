#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

// The NAND parts the simulated controller knows, and the shape of their pages.

namespace sim {

constexpr std::size_t kPageDataBytes = 512;
constexpr std::size_t kPageSpareBytes = 16;
constexpr std::size_t kPageImageBytes = kPageDataBytes + kPageSpareBytes;  // 528
constexpr std::uint32_t kNoPage = 0xFFFFFFFFu;

// One page as the vendor commands move it: 512 data bytes, then 16 spare bytes.
using PageBytes = std::array<std::uint8_t, kPageImageBytes>;

// Spare bytes 0..5 of a block's first page carry its bad-block mark: all 0xFF on a good block.
constexpr std::size_t kMarkFirst = kPageDataBytes;
constexpr std::size_t kMarkBytes = 6;

// What the firmware knows about a flash part from its device code.
struct BankGeometry {
    std::uint8_t deviceCode = 0;
    bool known = false;  // false: a code the program's table does not have (default geometry)
    std::uint16_t pageDataBytes = 512;
    std::uint8_t spareBytesPerPage = 16;  // bytes per page that F3h returns
    std::uint8_t pagesPerBlock = 16;
    std::uint16_t blocksPerBank = 256;

    std::uint32_t PagesPerBank() const {
        return static_cast<std::uint32_t>(pagesPerBlock) * blocksPerBank;
    }
};

// The geometry the simulated firmware gives a device code. Codes outside the known table get a
// small default part (16 pages of 512 + 16 bytes, 256 blocks) with known = false.
BankGeometry GeometryForDeviceCode(std::uint8_t deviceCode);

}  // namespace sim
