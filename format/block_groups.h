#pragma once
#include <algorithm>
#include <cstdint>

// How the format turns the good blocks of a 256-block group into the data blocks the CIS page
// gives it. The controller keeps the rest of the group's good blocks as its spares: it writes a
// block's new contents into a spare and frees the old one, and it takes a spare in place of a
// block that fails. Only the first 255 blocks of a group are counted.

// Blocks a group can offer at most, and the good blocks of every group kept back as reserve.
constexpr std::uint8_t kMaxDataBlocksPerGroup = 250;
constexpr std::uint8_t kReserveBlocksPerGroup = 3;

// The data blocks of a group whose first 255 blocks hold `freeBlocks` good ones (the CIS block
// not among them): three fewer, at most 250, none when three or fewer are good.
constexpr std::uint8_t GroupDataBlocks(std::uint32_t freeBlocks) {
    return freeBlocks > kReserveBlocksPerGroup
               ? static_cast<std::uint8_t>(std::min<std::uint32_t>(
                     freeBlocks - kReserveBlocksPerGroup, kMaxDataBlocksPerGroup))
               : 0;
}
