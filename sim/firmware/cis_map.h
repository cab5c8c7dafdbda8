#pragma once
#include <cstdint>

#include "sim/flash/flash_array.h"

// How the controller finds its CIS page on the flash and reads its map of the logical disk from
// it (the layout is in cis_layout.h).

namespace sim {

// What C3h reports: the first page of a block of bank 0 that starts with "USBC" and carries no
// bad-block mark; kNoPage when there is none.
std::uint32_t FindCisPage(const FlashArray& flash);

// The data sectors of the last bank's running total (of the first eight banks) on the CIS page;
// 0 when there is no CIS page.
std::uint32_t CisSectorTotal(const FlashArray& flash);

// Whether the controller can build its sector map from the CIS page at `page`: every group's
// count fits the group (at most 250, and no more than the unmarked blocks among its first 255),
// groups and banks that do not exist offer nothing, and each bank's total is the previous one
// plus its groups' blocks times its pages per block.
bool CisPageConsistent(const FlashArray& flash, std::uint32_t page);

}  // namespace sim
