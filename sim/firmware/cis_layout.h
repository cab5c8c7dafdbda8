#pragma once
#include <cstddef>
#include <cstdint>

#include "sim/flash/flash_geometry.h"

// The pages the controller keeps about its flash disk, as offsets into a page's 528-byte image.
//
// The CIS page (card information structure) is the first page of a block of bank 0 that starts
// with "USBC" and carries no bad-block mark. From it the controller builds its map of the
// logical disk: for every group of 256 blocks of every bank the number of data blocks the group
// offers, and for every bank the data sectors of the banks up to it. All numbers little-endian.
//
// The vendor page right after the CIS page also starts with "USBC"; the rest is the vendor's.
// A data block keeps in the spare area of each page the logical block it holds.

namespace sim {
namespace cis {

constexpr char kSignature[4] = {'U', 'S', 'B', 'C'};
constexpr std::size_t kSignatureOffset = 0;
constexpr std::size_t kSignatureBytes = sizeof kSignature;

// The group table: one byte per group, bank after bank.
constexpr std::size_t kGroupTableOffset = 4;
constexpr std::size_t kBanks = 8;  // banks past the eighth have no place in the page
constexpr std::size_t kGroupsPerBank = 32;
constexpr std::uint32_t kGroupBlocks = 256;  // blocks one group spans
// A group offers at most 250 data blocks; its last block is never one of them.
constexpr std::uint32_t kMaxGroupDataBlocks = 250;

// The running totals: one 32-bit count of data sectors (pages) per bank, of the banks 0..bank.
constexpr std::size_t kBankTotalsOffset = 260;
constexpr std::size_t kBankTotalBytes = 4;

constexpr std::size_t GroupEntryOffset(std::size_t bank, std::size_t group) {
    return kGroupTableOffset + kGroupsPerBank * bank + group;
}
constexpr std::size_t BankTotalOffset(std::size_t bank) {
    return kBankTotalsOffset + kBankTotalBytes * bank;
}
static_assert(GroupEntryOffset(kBanks, 0) == kBankTotalsOffset, "the totals follow the table");

// The groups a bank of `blocksPerBank` blocks has (a last group may be partial).
constexpr std::uint32_t GroupsOf(std::uint32_t blocksPerBank) {
    return (blocksPerBank + kGroupBlocks - 1) / kGroupBlocks;
}

// The vendor page: the signature, then the vendor's text.
constexpr std::size_t kVendorTextOffset = kSignatureBytes;

// Spare bytes 6..10 of a data page: the logical block the block holds, big-endian in 6..7,
// then its bank in 8 and 0 in 9..10; all 0xFF in a block that holds no data.
constexpr std::size_t kSpareLogicalBlock = kPageDataBytes + 6;
constexpr std::size_t kSpareLogicalBank = kPageDataBytes + 8;
constexpr std::size_t kSpareLogicalEnd = kPageDataBytes + 11;

}  // namespace cis
}  // namespace sim
