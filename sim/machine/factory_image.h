#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The pages a stick comes with before any format of ours: a CIS page as a format leaves it, the
// vendor page behind it, and blocks that hold data. The description lines "cis", "vendor-page"
// and "data" write them; tests write them directly. The layouts are in firmware/cis_layout.h.

namespace sim {

class SimFlashDisk;

// Writes a CIS page as the format leaves it on the disk's bank 0 at `page` (a block's first
// page): "USBC", a group table that places `sectors` pages in the banks' groups in order (each
// group at most 250 blocks and no more than its unmarked blocks) and the running bank totals.
// The last bank's total is `sectors` even when the groups cannot hold that many.
void WriteCisPage(SimFlashDisk& disk, std::uint32_t page, std::uint32_t sectors);

// Writes a vendor page (starting with "USBC", then `text`) at `page` of bank 0.
void WriteVendorPage(SimFlashDisk& disk, std::uint32_t page, const std::string& text);

// Fills a block the way a used stick holds data: every page has data, spare bytes 0..5 0xFF (no
// bad-block mark) and a logical block address in spare bytes 6..10.
void WriteDataBlock(SimFlashDisk& disk, std::size_t bank, std::uint32_t block);

// The logical size a fresh format of the disk would give when no block is bad.
std::uint32_t DefaultSectorTotal(const SimFlashDisk& disk);

}  // namespace sim
