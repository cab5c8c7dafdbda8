#pragma once
#include <cstdint>
#include <functional>

#include "format/fat_label.h"
#include "reader/media_type.h"

// Lays an empty FAT12 or FAT16 volume without a partition table over a unit: the boot sector at
// sector 0, then both FATs and the root directory, then one zeroed sector, the first of the data
// area. Everything after that stays as it was.

enum class FatVolumeResult {
    Written,      // every sector was written
    SizeRefused,  // no valid volume fits the size; nothing was written
    WriteFailed,  // a sector could not be written (after one retry); the volume is incomplete
};

// Writes one 512-byte sector; true on success.
using SectorWriter = std::function<bool(std::uint32_t lba, const std::uint8_t* sector)>;

// The whole sequence over any sector store, with the volume serial drawn from serialSeed. Stops
// at the first write that fails. A label other than "NO NAME" goes into the boot sector and, as
// mkfs.fat puts it, into a volume-label entry (written at `labelWritten`) at the start of the root
// directory; with "NO NAME" the root directory stays empty.
FatVolumeResult WriteFatVolume(const SectorWriter& write, std::uint32_t totalSectors,
                               std::uint32_t serialSeed, const FatLabel& label = NoNameLabel(),
                               const FatTimestamp& labelWritten = FatTimestamp());

// Over the unit's WRITE(10), one sector per command. A failed write is retried once after its
// sense has been read (a unit attention right after the controller reloaded its tables is
// expected). The serial is seeded from the local clock unless given.
FatVolumeResult WriteFatVolumeNoMbr(MediaType unit, std::uint32_t totalSectors);
FatVolumeResult WriteFatVolumeNoMbr(MediaType unit, std::uint32_t totalSectors,
                                    std::uint32_t serialSeed);
// With a label, the serial and the label entry's time from the local clock.
FatVolumeResult WriteFatVolumeNoMbr(MediaType unit, std::uint32_t totalSectors,
                                    const FatLabel& label);
