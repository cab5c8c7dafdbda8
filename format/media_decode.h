#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "format/fat_boot_sector.h"
#include "format/fat_geometry.h"
#include "format/page_image.h"

// What a look at a stick finds on it, read back from the bytes: its CIS page and the boot sector
// of the FAT volume. Both decoders take any bytes at all and never trust a field to be sane.

struct DecodedCisPage {
    GroupTable groups{};
    BankSectorTotals totals{};
    // Banks with a running total, counted from bank 0 up to the last non-zero total.
    std::uint8_t banks = 0;
    // The capacity the page gives: the last bank's running total, in sectors.
    std::uint32_t sectors = 0;
    // The totals run upward and each bank's step is what its groups offer, when the pages per
    // block of every bank are known (0 for an unknown bank).
    bool TotalsAgree(const std::array<std::uint8_t, kMaxBanks>& pagesPerBlock) const;
};

// False when the page does not start with "USBC".
bool DecodeCisPage(const PageImage& page, DecodedCisPage* decoded);

struct DecodedBootSector {
    FatType type = FatType::Fat12;
    std::uint32_t totalSectors = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t reservedSectors = 0;
    std::uint32_t fatCount = 0;
    std::uint32_t sectorsPerFat = 0;
    std::uint32_t rootEntries = 0;
    std::uint32_t clusters = 0;  // data clusters the layout holds
    std::array<std::uint8_t, 4> serial{};
    std::string label;  // the volume label field, trailing blanks removed
};

// False (and nothing decoded) unless the sector is a FAT12 or FAT16 boot sector whose layout
// fits inside its own total: signature 55 AA, 512 bytes per sector, a cluster size that is a
// power of two, at least one FAT, and the type its cluster count makes it.
bool DecodeBootSector(const std::uint8_t* sector, DecodedBootSector* decoded);
