#pragma once
#include <cstdint>
#include <ostream>
#include <string>

#include "sim/disk/sector_store.h"
#include "sim/flash/flash_array.h"

// What a flash disk holds, written out for the tests and the demo to look at: the logical disk
// as a plain image file, and raw page images of a bank. Each comes to a path or to a stream the
// caller opened (positioned at its start, able to seek); false with a reason when it cannot be
// written.

namespace sim {

// The image: Count() × 512 bytes; sectors never written read as zeros.
bool ExportSectors(const SectorStore& sectors, const std::string& path, std::string* error);
bool ExportSectors(const SectorStore& sectors, std::ostream& out, std::string* error);

// `count` 528-byte page images of `bank` from `firstPage` on, one after the other, as the cells
// read them.
bool ExportPages(const FlashArray& flash, std::size_t bank, std::uint32_t firstPage,
                 std::uint32_t count, const std::string& path, std::string* error);
bool ExportPages(const FlashArray& flash, std::size_t bank, std::uint32_t firstPage,
                 std::uint32_t count, std::ostream& out, std::string* error);

}  // namespace sim
