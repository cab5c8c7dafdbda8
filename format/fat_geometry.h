#pragma once
#include <array>
#include <cstdint>

// How an empty FAT12/FAT16 volume without a partition table is laid over a unit of a given size.
// The size is worked out from a cylinder/head/sector geometry as for a partition starting at
// sector 63, so the volume ends short of the medium; the cluster size is then raised where needed
// to keep the cluster count inside the FAT type's limits.

enum class FatType { Fat12, Fat16 };

// The FAT types' cluster-count limits: FAT12 below 4,085 clusters, FAT16 from 4,085 to 65,524.
constexpr std::uint32_t kFat12ClusterLimit = 4085;
constexpr std::uint32_t kFat16MaxClusters = 65524;
constexpr std::uint32_t kMaxSectorsPerCluster = 128;

struct VolumeGeometry {
    std::uint32_t sizeMiB = 0;
    std::uint8_t sizeClass = 0;  // 0x01, 0x04 or 0x06: picks the cylinder limit of the head search
    std::uint32_t tracks = 0;
    std::uint32_t heads = 0;
    std::uint32_t cylinders = 0;
    std::uint32_t volumeSectors = 0;  // boot sector included
    FatType fatType = FatType::Fat12;
    std::uint32_t sizeTableSectorsPerCluster = 0;  // what the size alone would give
    std::uint32_t sectorsPerCluster = 0;           // after keeping the cluster count valid
    std::uint32_t rootEntries = 0;
    std::uint32_t rootSectors = 0;
    std::uint32_t sectorsPerFat = 0;

    std::uint32_t FirstDataSector() const { return 1 + 2 * sectorsPerFat + rootSectors; }
    std::uint32_t DataClusters() const {
        return (volumeSectors - FirstDataSector()) / sectorsPerCluster;
    }
};

// Works the geometry out for a unit of totalSectors 512-byte sectors. False (geometry
// unspecified) when no valid volume fits: fewer than two cylinders, or a cluster count that no
// cluster size up to 128 sectors brings inside the FAT type's limits.
bool ComputeVolumeGeometry(std::uint32_t totalSectors, VolumeGeometry* geometry);

// Sectors per FAT for the given volume size, cluster size and type; it covers volumeSectors /
// sectorsPerCluster clusters plus the two reserved entries.
std::uint32_t SectorsPerFat(std::uint32_t volumeSectors, std::uint32_t sectorsPerCluster,
                            FatType type);

// The volume serial: a linear congruential generator seeded with the sum of the local time's
// second, minute, hour and day of the month; the first draw is dropped and the low bytes of the
// next four are the serial bytes in order.
using VolumeSerial = std::array<std::uint8_t, 4>;
VolumeSerial VolumeSerialFromSeed(std::uint32_t seed);
std::uint32_t SerialSeedFromLocalClock();

class SerialGenerator {
  public:
    explicit SerialGenerator(std::uint32_t seed) : state_(seed) {}
    // 0 to 32,767: bits 16-30 of the advanced state.
    std::uint32_t Next() {
        state_ = state_ * 214013u + 2531011u;
        return (state_ >> 16) & 0x7FFFu;
    }

  private:
    std::uint32_t state_;
};
