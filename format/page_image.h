#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

// One page as the raw page commands move it: 512 data bytes, then the 16 spare bytes (spare
// byte k is image byte 512 + k).
constexpr std::size_t kPageDataBytes = 512;
constexpr std::size_t kPageSpareBytes = 16;
constexpr std::size_t kPageImageBytes = kPageDataBytes + kPageSpareBytes;
using PageImage = std::array<std::uint8_t, kPageImageBytes>;

// Image offsets of the spare bytes the block probes judge: the bad-block mark (spare 0-5) and
// the blank marker (spare 6-10).
constexpr std::size_t kBadMarkOffset = 512;
constexpr std::size_t kBadMarkBytes = 6;
constexpr std::size_t kBlankMarkOffset = 518;
constexpr std::size_t kBlankMarkBytes = 5;

// 264 little-endian 16-bit words 0, 1, ... 263 over data and spare area.
const PageImage& AscendingPattern();

// The per-bank tables the format keeps and the CIS page carries.
constexpr std::size_t kMaxBanks = 8;
constexpr std::size_t kGroupsPerBank = 32;
constexpr std::size_t kBlocksPerGroup = 256;
using GroupTable = std::array<std::array<std::uint8_t, kGroupsPerBank>, kMaxBanks>;
using BankSectorTotals = std::array<std::uint32_t, kMaxBanks>;

// Both the disk's CIS page and its vendor page begin with this signature.
constexpr char kCisSignature[4] = {'U', 'S', 'B', 'C'};

// The CIS page the format writes: "USBC", the group table (bank-major, 32 bytes a bank), the
// eight running sector totals (little-endian), zeros up to byte 511; spare bytes 0-5 0xFF (not
// marked bad) and 6-15 0x00 (holds data).
PageImage BuildDiskCisPage(const GroupTable& groups, const BankSectorTotals& totals);

// True when the first four bytes are "USBC".
bool HasCisSignature(const PageImage& image);
