#include "format/fat_geometry.h"
#include "format/fat_volume.h"
#include "reader/reader_unit.h"

namespace {

FatVolumeResult WriteOverUnit(ReaderUnit& unit, std::uint32_t totalSectors,
                              std::uint32_t serialSeed, const FatLabel& label,
                              const FatTimestamp& labelWritten) {
    const SectorWriter write = [&unit](std::uint32_t lba, const std::uint8_t* data) {
        if (unit.WriteSectors(lba, 1, data).Good()) return true;
        unit.GetSenseStatus();  // hands over (and clears) the pending sense
        return unit.WriteSectors(lba, 1, data).Good();
    };
    return WriteFatVolume(write, totalSectors, serialSeed, label, labelWritten);
}

}  // namespace

FatVolumeResult WriteFatVolumeNoMbr(ReaderUnit& unit, std::uint32_t totalSectors,
                                    std::uint32_t serialSeed) {
    return WriteOverUnit(unit, totalSectors, serialSeed, NoNameLabel(), FatTimestamp());
}

FatVolumeResult WriteFatVolumeNoMbr(ReaderUnit& unit, std::uint32_t totalSectors) {
    return WriteFatVolumeNoMbr(unit, totalSectors, SerialSeedFromLocalClock());
}

FatVolumeResult WriteFatVolumeNoMbr(ReaderUnit& unit, std::uint32_t totalSectors,
                                    const FatLabel& label) {
    return WriteOverUnit(unit, totalSectors, SerialSeedFromLocalClock(), label,
                         FatTimestampFromLocalClock());
}
