// Arbitrary bytes as what a look at a stick reads back: its CIS page and the boot sector of its
// volume. The decoders take anything without a crash; what they accept keeps to what they
// promise (a page starts with "USBC" and its capacity is its last running total; a boot sector's
// layout fits inside its own total and its type is what its cluster count makes it), and what
// the program itself writes decodes to what it wrote. The first 528 bytes are the page, the next
// 512 the sector; 4 more bytes give a volume size for the writer's own boot sector.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "format/fat_boot_sector.h"
#include "format/fat_geometry.h"
#include "format/media_decode.h"
#include "format/page_image.h"

namespace {

void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "media_decode_fuzz: %s\n", what);
    std::abort();
}

void CheckCisPage(const PageImage& page) {
    DecodedCisPage cis;
    const bool decoded = DecodeCisPage(page, &cis);
    Require(decoded == (std::memcmp(page.data(), "USBC", 4) == 0),
            "a page decodes exactly when it starts with USBC");
    if (!decoded) return;
    Require(cis.banks <= kMaxBanks, "more banks than the page has room for");
    Require(cis.sectors == (cis.banks == 0 ? 0u : cis.totals[cis.banks - 1]),
            "the capacity is not the last running total");
    for (std::size_t bank = cis.banks; bank < kMaxBanks; ++bank) {
        Require(cis.totals[bank] == 0, "a total after the last bank");
    }
    // The totals agree only when each bank's step is what its groups offer.
    std::array<std::uint8_t, kMaxBanks> pagesPerBlock{};
    pagesPerBlock.fill(32);
    if (cis.TotalsAgree(pagesPerBlock)) {
        std::uint64_t running = 0;
        for (std::size_t bank = 0; bank < cis.banks; ++bank) {
            for (std::uint8_t entry : cis.groups[bank]) running += std::uint64_t{entry} * 32;
            Require(running == cis.totals[bank], "totals agree that do not add up");
        }
    }
    // What the format writes from these tables decodes to them.
    const PageImage built = BuildDiskCisPage(cis.groups, cis.totals);
    DecodedCisPage again;
    Require(DecodeCisPage(built, &again), "a page the format builds does not decode");
    Require(again.groups == cis.groups && again.totals == cis.totals,
            "a page the format builds decodes to other tables");
    Require(std::equal(built.begin(), built.begin() + 292, page.begin()),
            "the decoded tables do not give back the page's bytes");
}

void CheckBootSector(const std::uint8_t* sector) {
    DecodedBootSector boot;
    if (!DecodeBootSector(sector, &boot)) return;
    Require(sector[510] == 0x55 && sector[511] == 0xAA, "a boot sector without its signature");
    Require(
        boot.sectorsPerCluster != 0 && (boot.sectorsPerCluster & (boot.sectorsPerCluster - 1)) == 0,
        "a cluster size that is not a power of two");
    const std::uint64_t rootSectors = (std::uint64_t{boot.rootEntries} * 32 + 511) / 512;
    const std::uint64_t firstData =
        boot.reservedSectors + std::uint64_t{boot.fatCount} * boot.sectorsPerFat + rootSectors;
    Require(boot.fatCount >= 1 && boot.reservedSectors >= 1, "no FAT or no reserved sector");
    Require(firstData < boot.totalSectors, "a layout larger than its own total");
    Require(boot.clusters == (boot.totalSectors - firstData) / boot.sectorsPerCluster,
            "a cluster count the layout does not give");
    Require(boot.type == (boot.clusters < kFat12ClusterLimit ? FatType::Fat12 : FatType::Fat16),
            "a type its cluster count does not make");
    Require(boot.clusters <= kFat16MaxClusters, "more clusters than FAT16 has");
    Require(boot.label.size() <= 11, "a label longer than its field");
}

// The writer's own boot sector for a volume of `sectors` decodes to its geometry.
void CheckWrittenBootSector(std::uint32_t sectors, const VolumeSerial& serial) {
    VolumeGeometry geometry;
    if (!ComputeVolumeGeometry(sectors, &geometry)) return;
    Require(geometry.volumeSectors <= sectors, "a volume larger than its unit");
    const SectorImage sector = BuildBootSector(geometry, serial);
    DecodedBootSector boot;
    Require(DecodeBootSector(sector.data(), &boot), "a boot sector the writer makes is refused");
    Require(boot.totalSectors == geometry.volumeSectors, "the written total is not the volume's");
    Require(boot.sectorsPerCluster == geometry.sectorsPerCluster, "the written cluster size");
    Require(boot.sectorsPerFat == geometry.sectorsPerFat, "the written FAT size");
    Require(boot.rootEntries == geometry.rootEntries, "the written root directory");
    Require(boot.type == geometry.fatType, "the written type is not the geometry's");
    Require(boot.clusters == geometry.DataClusters(), "the written cluster count");
    Require(std::equal(serial.begin(), serial.end(), boot.serial.begin()), "the written serial");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    PageImage page{};
    std::memcpy(page.data(), data, std::min(size, page.size()));
    CheckCisPage(page);

    std::uint8_t sector[512] = {};
    if (size > page.size()) {
        std::memcpy(sector, data + page.size(), std::min<std::size_t>(size - page.size(), 512));
    }
    CheckBootSector(sector);

    const std::size_t at = page.size() + sizeof sector;
    if (size >= at + 4) {
        std::uint32_t sectors = 0;
        std::memcpy(&sectors, data + at, 4);
        const VolumeSerial serial = {sector[0], sector[1], sector[2], sector[3]};
        CheckWrittenBootSector(sectors, serial);
    }
    return 0;
}
