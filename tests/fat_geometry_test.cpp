#include "format/fat_geometry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "format/fat_boot_sector.h"

namespace {

struct WorkedValues {
    std::uint32_t total;
    std::uint8_t sizeClass;
    std::uint32_t heads, cylinders, volume;
    FatType type;
    std::uint32_t spc, root, spf, writesAfterBoot;
};

TEST(FatGeometry, WorkedValuesTable) {
    const WorkedValues rows[] = {
        {16000, 0x01, 11, 23, 15183, FatType::Fat12, 8, 224, 6, 27},
        {32000, 0x01, 3, 169, 31689, FatType::Fat12, 8, 512, 12, 57},
        {64000, 0x04, 5, 203, 63567, FatType::Fat16, 4, 512, 63, 159},
        {128000, 0x06, 3, 677, 127701, FatType::Fat16, 4, 512, 125, 283},
        {256000, 0x06, 2, 2031, 255717, FatType::Fat16, 4, 512, 250, 533},
        {1000000, 0x06, 11, 1443, 999243, FatType::Fat16, 16, 512, 244, 521},
    };
    for (const WorkedValues& r : rows) {
        VolumeGeometry g;
        ASSERT_TRUE(ComputeVolumeGeometry(r.total, &g)) << r.total;
        EXPECT_EQ(g.sizeClass, r.sizeClass) << r.total;
        EXPECT_EQ(g.heads, r.heads) << r.total;
        EXPECT_EQ(g.cylinders, r.cylinders) << r.total;
        EXPECT_EQ(g.volumeSectors, r.volume) << r.total;
        EXPECT_EQ(g.fatType, r.type) << r.total;
        EXPECT_EQ(g.sectorsPerCluster, r.spc) << r.total;
        EXPECT_EQ(g.sizeTableSectorsPerCluster, r.spc) << r.total;
        EXPECT_EQ(g.rootEntries, r.root) << r.total;
        EXPECT_EQ(g.sectorsPerFat, r.spf) << r.total;
        EXPECT_EQ(2 * g.sectorsPerFat + g.rootSectors + 1, r.writesAfterBoot) << r.total;
    }
}

TEST(FatGeometry, HeadSearchPrefersTheFirstDivisor) {
    VolumeGeometry g;
    ASSERT_TRUE(ComputeVolumeGeometry(32768, &g));  // 520 tracks: 2, 4, 5, 8, 10, 13 divide it
    EXPECT_EQ(g.tracks, 520u);
    EXPECT_EQ(g.heads, 2u);
    EXPECT_EQ(g.sizeClass, 0x04);
    EXPECT_EQ(g.fatType, FatType::Fat12);  // 16 MiB
    // No head count keeps the cylinders within 2,047: two heads.
    ASSERT_TRUE(ComputeVolumeGeometry(2064384, &g));
    EXPECT_EQ(g.heads, 2u);
    EXPECT_EQ(g.volumeSectors, (g.tracks / 2 - 1) * 2 * 63 - 63);
    ASSERT_TRUE(ComputeVolumeGeometry(2064383, &g));
    EXPECT_EQ(g.tracks / g.heads <= 2047, true);
    EXPECT_EQ(g.heads, 16u);
}

TEST(FatGeometry, ClusterSizesAtTheSizeEdges) {
    const std::pair<std::uint32_t, std::uint32_t> edges[] = {
        {17, 8},  {18, 4},   {33, 4},   {34, 4},   {129, 4},   {130, 8},
        {257, 8}, {258, 16}, {513, 16}, {514, 32}, {1025, 32}, {1026, 64}};
    for (const auto& [mib, spc] : edges) {
        VolumeGeometry g;
        ASSERT_TRUE(ComputeVolumeGeometry(mib * 2048 + 1000, &g)) << mib;
        EXPECT_EQ(g.sizeTableSectorsPerCluster, spc) << mib;
    }
}

TEST(FatGeometry, SixteenBitTotalDecidedByVolumeSectors) {
    VolumeGeometry g;
    ASSERT_TRUE(ComputeVolumeGeometry(65536, &g));
    EXPECT_EQ(g.volumeSectors, 65331u);
    SectorImage s = BuildBootSector(g, VolumeSerial{});
    EXPECT_EQ(s[boot::kTotalSectors16] | s[boot::kTotalSectors16 + 1] << 8, 65331);
    EXPECT_EQ(s[boot::kTotalSectors32] | s[boot::kTotalSectors32 + 1] << 8 |
                  s[boot::kTotalSectors32 + 2] << 16 | s[boot::kTotalSectors32 + 3] << 24,
              0);
    ASSERT_TRUE(ComputeVolumeGeometry(67583, &g));
    EXPECT_EQ(g.volumeSectors, 67347u);
    s = BuildBootSector(g, VolumeSerial{});
    EXPECT_EQ(s[boot::kTotalSectors16] | s[boot::kTotalSectors16 + 1] << 8, 0);
    EXPECT_EQ(s[boot::kTotalSectors32] | s[boot::kTotalSectors32 + 1] << 8 |
                  s[boot::kTotalSectors32 + 2] << 16 | s[boot::kTotalSectors32 + 3] << 24,
              67347);
}

bool InMendedBand(std::uint32_t total) {
    if (total >= 33012 && total <= 34815) return total < 33579 || total > 33641;
    return (total >= 262899 && total <= 266239) || (total >= 525420 && total <= 528383) ||
           (total >= 1049895 && total <= 1052671) || (total >= 2097648 && total <= 2101247) ||
           total >= 4194414;
}

// Every size up to 2.2 million sectors and around the last band edge, and a sample between: the
// cluster size is raised exactly in the bands where the size table alone breaks the FAT limits,
// and the result always holds them.
TEST(FatGeometry, ClusterCountsStayWithinTheLimitsForEverySize) {
    std::uint32_t refusedBelow = 0;
    for (std::uint32_t total = 0; total <= 4300000;
         total += (total >= 2200000 && (total < 4190000 || total > 4200000)) ? 97 : 1) {
        VolumeGeometry g;
        if (!ComputeVolumeGeometry(total, &g)) {
            ASSERT_LT(total, 882u) << "refused";
            refusedBelow = total;
            continue;
        }
        const std::uint32_t clusters = g.DataClusters();
        if (g.fatType == FatType::Fat12) {
            ASSERT_GE(clusters, 1u) << total;
            ASSERT_LT(clusters, 4085u) << total;
        } else {
            ASSERT_GE(clusters, 4085u) << total;
            ASSERT_LE(clusters, 65524u) << total;
        }
        ASSERT_EQ(g.sectorsPerCluster != g.sizeTableSectorsPerCluster, InMendedBand(total))
            << total;
        if (g.sectorsPerCluster != g.sizeTableSectorsPerCluster) {
            ASSERT_EQ(g.sectorsPerCluster, 2 * g.sizeTableSectorsPerCluster) << total;
        }
        ASSERT_EQ(g.sectorsPerFat, SectorsPerFat(g.volumeSectors, g.sectorsPerCluster, g.fatType));
        // The FAT has an entry for every cluster of the data area.
        const std::uint32_t entryBits = g.fatType == FatType::Fat12 ? 12 : 16;
        ASSERT_GE(g.sectorsPerFat * 512u * 8u / entryBits, clusters + 2) << total;
    }
    EXPECT_GT(refusedBelow, 0u);
}

TEST(FatGeometry, MendedBandsGetTheNextClusterSize) {
    VolumeGeometry g;
    ASSERT_TRUE(ComputeVolumeGeometry(33012, &g));
    EXPECT_EQ(g.fatType, FatType::Fat12);
    EXPECT_EQ(g.sectorsPerCluster, 16u);
    ASSERT_TRUE(ComputeVolumeGeometry(33011, &g));
    EXPECT_EQ(g.sectorsPerCluster, 8u);
    ASSERT_TRUE(ComputeVolumeGeometry(262899, &g));
    EXPECT_EQ(g.sectorsPerCluster, 8u);
    ASSERT_TRUE(ComputeVolumeGeometry(266240, &g));
    EXPECT_EQ(g.sectorsPerCluster, 8u);  // 130 MiB: the table's own 8
    ASSERT_TRUE(ComputeVolumeGeometry(4194414, &g));
    EXPECT_EQ(g.sectorsPerCluster, 128u);
}

TEST(FatGeometry, TooSmallAndTooLargeAreRefused) {
    VolumeGeometry g;
    // Track counts 0-3, 5, 7, 11 and 13 leave fewer than two cylinders.
    for (std::uint32_t tracks : {0u, 1u, 2u, 3u, 5u, 7u, 11u, 13u}) {
        EXPECT_FALSE(ComputeVolumeGeometry(tracks * 63, &g)) << tracks;
        EXPECT_FALSE(ComputeVolumeGeometry(tracks * 63 + 62, &g)) << tracks;
    }
    for (std::uint32_t tracks : {4u, 6u, 8u, 9u, 10u, 12u, 14u}) {
        EXPECT_TRUE(ComputeVolumeGeometry(tracks * 63, &g)) << tracks;
        EXPECT_GE(g.cylinders, 2u);
    }
    ASSERT_TRUE(ComputeVolumeGeometry(4 * 63, &g));
    EXPECT_EQ(g.volumeSectors, 63u);
    // Even 64 KiB clusters cannot hold this many sectors in 65,524 clusters.
    EXPECT_FALSE(ComputeVolumeGeometry(8500000, &g));
    EXPECT_FALSE(ComputeVolumeGeometry(0xFFFFFFFFu, &g));
}

TEST(FatSerial, GeneratorAndSeed65) {
    SerialGenerator generator(65);
    const std::uint32_t first = generator.Next();
    EXPECT_EQ(first, ((65u * 214013u + 2531011u) >> 16) & 0x7FFF);
    const VolumeSerial serial = VolumeSerialFromSeed(65);
    EXPECT_EQ(serial, (VolumeSerial{0x3D, 0xC9, 0x58, 0x86}));
    EXPECT_EQ(VolumeSerialFromSeed(65), serial);  // same sum, same serial
    EXPECT_NE(VolumeSerialFromSeed(66), serial);
    SerialGenerator big(0xFFFFFFFFu);
    for (int i = 0; i < 1000; ++i) EXPECT_LE(big.Next(), 32767u);
}

TEST(FatBootSector, FixedImageFields) {
    const SectorImage& s = BootSectorImage();
    EXPECT_EQ(s[0], 0xEB);
    EXPECT_EQ(s[1], 0x3E);
    EXPECT_EQ(s[2], 0x90);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&s[3]), 8), ")o-H]IHC");
    EXPECT_EQ(s[0x0B] | s[0x0C] << 8, 512);
    EXPECT_EQ(s[0x0E] | s[0x0F] << 8, 1);
    EXPECT_EQ(s[0x10], 2);
    EXPECT_EQ(s[0x15], 0xF8);
    EXPECT_EQ(s[0x24], 0x80);
    EXPECT_EQ(s[0x25], 0x00);
    EXPECT_EQ(s[0x26], 0x29);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&s[0x36]), 8), "FAT16   ");
    EXPECT_EQ(s[0x1FE], 0x55);
    EXPECT_EQ(s[0x1FF], 0xAA);
}

std::string ZeroTerminatedAt(const SectorImage& s, std::size_t offset) {
    return std::string(reinterpret_cast<const char*>(&s[offset]));
}

// The loader's entry is where the jump lands, and the addresses it prints from (loaded at
// 0000:7C00) are those of its messages.
TEST(FatBootSector, LoaderPrintsItsMessages) {
    const SectorImage& s = BootSectorImage();
    const std::size_t entry = 2 + s[1];
    EXPECT_EQ(entry, 0x40u);
    EXPECT_EQ(s[entry], 0xFA);  // cli
    std::vector<std::string> printed;
    for (std::size_t i = entry; i + 2 < 0x1FE; ++i) {
        if (s[i] == 0xBE && s[i + 3] == 0xE8) {  // mov si, imm16 ; call
            const std::size_t address = s[i + 1] | s[i + 2] << 8;
            ASSERT_GE(address, 0x7C00u);
            printed.push_back(ZeroTerminatedAt(s, address - 0x7C00));
            const std::size_t target = i + 6 + (s[i + 4] | s[i + 5] << 8);
            EXPECT_EQ(s[target], 0xAC);  // the print routine starts with lodsb
        }
    }
    ASSERT_EQ(printed.size(), 2u);
    EXPECT_EQ(printed[0], "\r\nInvalid system disk");
    EXPECT_EQ(printed[1], "\r\nReplace the disk, and then press any key\r\n");
    const std::string all(reinterpret_cast<const char*>(s.data()), s.size());
    EXPECT_NE(all.find(std::string("\r\nDisk I/O error\0", 17)), std::string::npos);
}

TEST(FatBootSector, WrittenFields) {
    VolumeGeometry g;
    ASSERT_TRUE(ComputeVolumeGeometry(16000, &g));
    SectorImage s = BuildBootSector(g, VolumeSerialFromSeed(65));
    EXPECT_EQ(s[0x0D], 8);
    EXPECT_EQ(s[0x11] | s[0x12] << 8, 224);
    EXPECT_EQ(s[0x13] | s[0x14] << 8, 15183);
    EXPECT_EQ(s[0x16] | s[0x17] << 8, 6);
    EXPECT_EQ(s[0x18] | s[0x19] << 8, 63);
    EXPECT_EQ(s[0x1A] | s[0x1B] << 8, 32);  // not the 11 heads of the search
    for (int i = 0x1C; i < 0x24; ++i) EXPECT_EQ(s[i], 0) << i;
    EXPECT_EQ(s[0x27], 0x3D);
    EXPECT_EQ(s[0x2A], 0x86);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&s[0x2B]), 11), "NO NAME    ");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&s[0x36]), 8), "FAT12   ");
    ASSERT_TRUE(ComputeVolumeGeometry(1000000, &g));
    s = BuildBootSector(g, VolumeSerial{});
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&s[0x36]), 8), "FAT16   ");
    EXPECT_EQ(s[0x0D], 16);
    // Everything outside the written fields is the fixed image.
    const SectorImage& image = BootSectorImage();
    EXPECT_EQ(std::memcmp(&s[0x3E], &image[0x3E], 0x200 - 0x3E), 0);
    EXPECT_EQ(std::memcmp(&s[0], &image[0], 0x0D), 0);
}

}  // namespace
