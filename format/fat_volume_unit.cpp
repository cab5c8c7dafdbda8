#include "format/fat_geometry.h"
#include "format/fat_volume.h"
#include "reader/commands.h"
#include "reader/sense.h"

namespace {

FatVolumeResult WriteOverUnit(MediaType unit, std::uint32_t totalSectors, std::uint32_t serialSeed,
                              const FatLabel& label, const FatTimestamp& labelWritten) {
    const SectorWriter write = [unit](std::uint32_t lba, const std::uint8_t* data) {
        if (WriteSectors(unit, lba, 1, data)) return true;
        GetSenseStatus(unit);  // hands over (and clears) the pending sense
        return WriteSectors(unit, lba, 1, data) != 0;
    };
    return WriteFatVolume(write, totalSectors, serialSeed, label, labelWritten);
}

}  // namespace

FatVolumeResult WriteFatVolumeNoMbr(MediaType unit, std::uint32_t totalSectors,
                                    std::uint32_t serialSeed) {
    return WriteOverUnit(unit, totalSectors, serialSeed, NoNameLabel(), FatTimestamp());
}

FatVolumeResult WriteFatVolumeNoMbr(MediaType unit, std::uint32_t totalSectors) {
    return WriteFatVolumeNoMbr(unit, totalSectors, SerialSeedFromLocalClock());
}

FatVolumeResult WriteFatVolumeNoMbr(MediaType unit, std::uint32_t totalSectors,
                                    const FatLabel& label) {
    return WriteOverUnit(unit, totalSectors, SerialSeedFromLocalClock(), label,
                         FatTimestampFromLocalClock());
}
