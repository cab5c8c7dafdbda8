#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "format/fat_geometry.h"
#include "format/fat_label.h"

using SectorImage = std::array<std::uint8_t, 512>;

// Offsets of the boot-sector fields the writer sets or that callers inspect.
namespace boot {
constexpr std::size_t kJump = 0x00;
constexpr std::size_t kOemName = 0x03;
constexpr std::size_t kBytesPerSector = 0x0B;
constexpr std::size_t kSectorsPerCluster = 0x0D;
constexpr std::size_t kReservedSectors = 0x0E;
constexpr std::size_t kFatCount = 0x10;
constexpr std::size_t kRootEntries = 0x11;
constexpr std::size_t kTotalSectors16 = 0x13;
constexpr std::size_t kMediaDescriptor = 0x15;
constexpr std::size_t kSectorsPerFat = 0x16;
constexpr std::size_t kSectorsPerTrack = 0x18;
constexpr std::size_t kHeads = 0x1A;
constexpr std::size_t kHiddenSectors = 0x1C;
constexpr std::size_t kTotalSectors32 = 0x20;
constexpr std::size_t kDriveNumber = 0x24;
constexpr std::size_t kExtendedSignature = 0x26;
constexpr std::size_t kVolumeSerial = 0x27;
constexpr std::size_t kVolumeLabel = 0x2B;
constexpr std::size_t kFileSystemType = 0x36;
constexpr std::size_t kLoader = 0x3E;
constexpr std::size_t kSignature = 0x1FE;
}  // namespace boot

// The fixed image every volume starts from: the BIOS parameter block of a FAT16 volume and a
// small real-mode loader. The volume is a data volume, so the loader only tells whoever boots
// from it so ("Invalid system disk", "Replace the disk, and then press any key"), waits for a
// key and hands back to the BIOS.
const SectorImage& BootSectorImage();

// The image with the volume's own fields filled in.
SectorImage BuildBootSector(const VolumeGeometry& geometry, const VolumeSerial& serial,
                            const FatLabel& label = NoNameLabel());

// The first bytes of both FATs: media descriptor F8 and the end-of-chain entry of cluster 1.
std::array<std::uint8_t, 4> FatStartBytes(FatType type);
