#include "format/media_decode.h"

#include "reader/byte_order.h"

namespace {

constexpr std::size_t kGroupTableOffset = 4;
constexpr std::size_t kTotalsOffset = kGroupTableOffset + kMaxBanks * kGroupsPerBank;

constexpr std::size_t kSectorBytes = 512;

bool PowerOfTwo(std::uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

}  // namespace

bool DecodeCisPage(const PageImage& page, DecodedCisPage* decoded) {
    if (!HasCisSignature(page)) return false;
    DecodedCisPage d;
    for (std::size_t bank = 0; bank < kMaxBanks; ++bank) {
        for (std::size_t group = 0; group < kGroupsPerBank; ++group) {
            d.groups[bank][group] = page[kGroupTableOffset + bank * kGroupsPerBank + group];
        }
        d.totals[bank] = GetLe32(&page[kTotalsOffset + 4 * bank]);
        if (d.totals[bank] != 0) {
            d.banks = static_cast<std::uint8_t>(bank + 1);
            d.sectors = d.totals[bank];
        }
    }
    *decoded = d;
    return true;
}

bool DecodedCisPage::TotalsAgree(const std::array<std::uint8_t, kMaxBanks>& pagesPerBlock) const {
    std::uint64_t running = 0;
    for (std::size_t bank = 0; bank < kMaxBanks; ++bank) {
        if (bank >= banks) {
            if (totals[bank] != 0) return false;
            continue;
        }
        if (pagesPerBlock[bank] == 0) return false;
        std::uint64_t blocks = 0;
        for (std::uint8_t count : groups[bank]) blocks += count;
        running += blocks * pagesPerBlock[bank];
        if (running != totals[bank]) return false;
    }
    return true;
}

bool DecodeBootSector(const std::uint8_t* sector, DecodedBootSector* decoded) {
    if (sector[510] != 0x55 || sector[511] != 0xAA) return false;
    if (GetLe16(sector + boot::kBytesPerSector) != kSectorBytes) return false;
    DecodedBootSector d;
    d.sectorsPerCluster = sector[boot::kSectorsPerCluster];
    d.reservedSectors = GetLe16(sector + boot::kReservedSectors);
    d.fatCount = sector[boot::kFatCount];
    d.rootEntries = GetLe16(sector + boot::kRootEntries);
    d.sectorsPerFat = GetLe16(sector + boot::kSectorsPerFat);
    const std::uint32_t total16 = GetLe16(sector + boot::kTotalSectors16);
    d.totalSectors = total16 != 0 ? total16 : GetLe32(sector + boot::kTotalSectors32);
    if (!PowerOfTwo(d.sectorsPerCluster) || d.reservedSectors == 0 || d.fatCount == 0 ||
        d.sectorsPerFat == 0 || d.totalSectors == 0) {
        return false;
    }
    const std::uint64_t rootSectors =
        (std::uint64_t{d.rootEntries} * 32 + kSectorBytes - 1) / kSectorBytes;
    const std::uint64_t firstData =
        d.reservedSectors + std::uint64_t{d.fatCount} * d.sectorsPerFat + rootSectors;
    if (firstData >= d.totalSectors) return false;
    d.clusters = static_cast<std::uint32_t>((d.totalSectors - firstData) / d.sectorsPerCluster);
    if (d.clusters < kFat12ClusterLimit) {
        d.type = FatType::Fat12;
    } else if (d.clusters <= kFat16MaxClusters) {
        d.type = FatType::Fat16;
    } else {
        return false;  // a FAT32 volume or garbage: not what this program lays down
    }
    // The FAT must have room for every cluster's entry.
    const std::uint64_t entryBits = d.type == FatType::Fat12 ? 12 : 16;
    if ((std::uint64_t{d.clusters} + 2) * entryBits > std::uint64_t{d.sectorsPerFat} * 512 * 8) {
        return false;
    }
    for (int i = 0; i < 4; ++i) d.serial[i] = sector[boot::kVolumeSerial + i];
    d.label.assign(reinterpret_cast<const char*>(sector + boot::kVolumeLabel), 11);
    while (!d.label.empty() && d.label.back() == ' ') d.label.pop_back();
    *decoded = d;
    return true;
}
