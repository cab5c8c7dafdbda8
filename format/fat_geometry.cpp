#include "format/fat_geometry.h"

#include <ctime>

namespace {

constexpr std::uint32_t kSectorsPerTrack = 63;

std::uint8_t SizeClass(std::uint32_t sizeMiB) {
    if (sizeMiB < 16) return 0x01;
    if (sizeMiB < 32) return 0x04;
    return 0x06;
}

// The head count that leaves the fewest tracks of an incomplete cylinder, the first such count
// winning; 2 when every count gives too many cylinders.
std::uint32_t SearchHeads(std::uint32_t tracks, std::uint8_t sizeClass) {
    const std::uint32_t cylinderLimit = sizeClass == 0x06 ? 2047 : 1023;
    std::uint32_t best = 0;
    std::uint32_t bestRemainder = 0;
    for (std::uint32_t heads = 2; heads <= 16; ++heads) {
        if (tracks / heads > cylinderLimit) continue;
        const std::uint32_t remainder = tracks % heads;
        if (best == 0 || remainder < bestRemainder) {
            best = heads;
            bestRemainder = remainder;
        }
    }
    return best == 0 ? 2 : best;
}

std::uint32_t SizeTableSectorsPerCluster(std::uint32_t sizeMiB) {
    if (sizeMiB <= 17) return 8;
    if (sizeMiB <= 33) return 4;
    if (sizeMiB <= 257) return ((sizeMiB - 2) / 128 + 1) * 4;
    if (sizeMiB <= 513) return 16;
    if (sizeMiB <= 1025) return 32;
    return 64;
}

bool ClusterCountValid(std::uint32_t clusters, FatType type) {
    if (type == FatType::Fat12) return clusters >= 1 && clusters < kFat12ClusterLimit;
    return clusters >= kFat12ClusterLimit && clusters <= kFat16MaxClusters;
}

}  // namespace

std::uint32_t SectorsPerFat(std::uint32_t volumeSectors, std::uint32_t sectorsPerCluster,
                            FatType type) {
    const std::uint32_t clusters = volumeSectors / sectorsPerCluster;
    const std::uint32_t bytes = ((clusters + 2) / 2) * (type == FatType::Fat12 ? 3 : 4);
    return bytes / 512 + (bytes % 512 != 0 ? 1 : 0);
}

bool ComputeVolumeGeometry(std::uint32_t totalSectors, VolumeGeometry* geometry) {
    VolumeGeometry g;
    g.sizeMiB = totalSectors / 2048;
    g.sizeClass = SizeClass(g.sizeMiB);
    g.tracks = totalSectors / kSectorsPerTrack;
    g.heads = SearchHeads(g.tracks, g.sizeClass);
    g.cylinders = g.tracks / g.heads;
    // One cylinder is left for the partition table track that would precede the volume, so a
    // volume needs two.
    if (g.cylinders < 2) return false;
    g.volumeSectors = (g.cylinders - 1) * g.heads * kSectorsPerTrack - kSectorsPerTrack;
    g.rootEntries = g.sizeMiB <= 8 ? 224 : 512;
    g.rootSectors = g.rootEntries * 32 / 512;
    g.fatType = g.sizeMiB <= 16 ? FatType::Fat12 : FatType::Fat16;
    g.sizeTableSectorsPerCluster = SizeTableSectorsPerCluster(g.sizeMiB);

    // A cluster count outside the type's limits makes other systems read the volume as the
    // other FAT type; larger clusters bring it back inside.
    for (g.sectorsPerCluster = g.sizeTableSectorsPerCluster;
         g.sectorsPerCluster <= kMaxSectorsPerCluster; g.sectorsPerCluster *= 2) {
        g.sectorsPerFat = SectorsPerFat(g.volumeSectors, g.sectorsPerCluster, g.fatType);
        if (g.FirstDataSector() >= g.volumeSectors) return false;
        const std::uint32_t clusters = g.DataClusters();
        if (ClusterCountValid(clusters, g.fatType)) {
            *geometry = g;
            return true;
        }
        if (g.fatType == FatType::Fat16 && clusters < kFat12ClusterLimit) return false;
    }
    return false;
}

VolumeSerial VolumeSerialFromSeed(std::uint32_t seed) {
    SerialGenerator generator(seed);
    generator.Next();  // the first draw is dropped
    VolumeSerial serial;
    for (auto& byte : serial) byte = static_cast<std::uint8_t>(generator.Next() & 0xFF);
    return serial;
}

std::uint32_t SerialSeedFromLocalClock() {
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    if (local == nullptr) return static_cast<std::uint32_t>(now);
    return static_cast<std::uint32_t>(local->tm_sec + local->tm_min + local->tm_hour +
                                      local->tm_mday);
}
