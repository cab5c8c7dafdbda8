#pragma once
#include <cstdint>

// The limits a stick's health is judged by (see health_verdict.h), in one place, each with the
// reason it has this value. The manual quotes them.

// Bad blocks a bank may have and still count as healthy, in blocks per thousand: 2 %. The NAND
// parts of these sticks are sold with a minimum of valid blocks (1004 of 1024, 2008 of 2048,
// 4016 of 4096, ...), and their makers count both the blocks that ship bad and those that go bad
// over the part's rated life in that minimum. A bank above it has lost more blocks than its maker
// allows for the whole life of the part: it is worn.
constexpr std::uint32_t kWornBadPerMille = 20;

// Bad blocks above which a bank is not worth using any more: 4 %, twice what the maker allows
// for the part's whole life. NAND blocks fail faster and faster once wear has set in, so a bank
// that has lost that many will lose more soon, and every block that fails under data loses the
// data on it.
constexpr std::uint32_t kRetireBadPerMille = 40;

// Spare blocks a 256-block group must keep beyond the data blocks its CIS page gives it. The
// controller writes every change to a block into a spare and frees the old block, and it takes a
// spare in place of a block that fails: with one spare left it can still write, but the next
// block to fail there has nowhere to go. A format leaves at least three in every group that
// offers data, so fewer means blocks have gone bad since the page was written: worn.
constexpr std::int32_t kMinSpareBlocksPerGroup = 2;

// Bad blocks whose bad-block mark did not hold, from which on a stick is to be retired: any. The
// controller chooses the blocks it writes to by their marks, so it will write into such a block
// again and lose what it put there.
constexpr std::uint32_t kRetireUnmarkableBlocks = 1;
