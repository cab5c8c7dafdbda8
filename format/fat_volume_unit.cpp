#include "format/fat_geometry.h"
#include "format/fat_volume.h"
#include "reader/commands.h"
#include "reader/sense.h"

FatVolumeResult WriteFatVolumeNoMbr(MediaType unit, std::uint32_t totalSectors,
                                    std::uint32_t serialSeed) {
    const SectorWriter write = [unit](std::uint32_t lba, const std::uint8_t* data) {
        if (WriteSectors(unit, lba, 1, data)) return true;
        GetSenseStatus(unit);  // hands over (and clears) the pending sense
        return WriteSectors(unit, lba, 1, data) != 0;
    };
    return WriteFatVolume(write, totalSectors, serialSeed);
}

FatVolumeResult WriteFatVolumeNoMbr(MediaType unit, std::uint32_t totalSectors) {
    return WriteFatVolumeNoMbr(unit, totalSectors, SerialSeedFromLocalClock());
}
