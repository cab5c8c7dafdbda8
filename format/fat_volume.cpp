#include "format/fat_volume.h"

#include <cstring>

#include "format/fat_boot_sector.h"
#include "format/fat_geometry.h"

FatVolumeResult WriteFatVolume(const SectorWriter& write, std::uint32_t totalSectors,
                               std::uint32_t serialSeed, const FatLabel& label,
                               const FatTimestamp& labelWritten) {
    VolumeGeometry geometry;
    if (!ComputeVolumeGeometry(totalSectors, &geometry)) return FatVolumeResult::SizeRefused;

    SectorImage sector = BuildBootSector(geometry, VolumeSerialFromSeed(serialSeed), label);
    if (!write(0, sector.data())) return FatVolumeResult::WriteFailed;

    // Both FATs, the root directory and the first data sector: all zero but the start of each
    // FAT and the label entry. Only the first 32 bytes can be non-zero, so only they are cleared
    // between writes.
    const auto fatStart = FatStartBytes(geometry.fatType);
    const auto labelEntry = VolumeLabelEntry(label, labelWritten);
    const std::uint32_t root = 2 * geometry.sectorsPerFat;
    const std::uint32_t fat = geometry.sectorsPerFat;
    const std::uint32_t last = 2 * fat + geometry.rootSectors;
    sector.fill(0);
    std::memcpy(sector.data(), fatStart.data(), fatStart.size());
    for (std::uint32_t i = 0; i <= last; ++i) {
        if (i == fat) std::memcpy(sector.data(), fatStart.data(), fatStart.size());
        if (i == root && !IsNoName(label)) {
            std::memcpy(sector.data(), labelEntry.data(), labelEntry.size());
        }
        if (!write(1 + i, sector.data())) return FatVolumeResult::WriteFailed;
        std::memset(sector.data(), 0, 32);
    }
    return FatVolumeResult::Written;
}
