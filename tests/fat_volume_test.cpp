#include "format/fat_volume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "format/fat_boot_sector.h"
#include "format/fat_geometry.h"
#include "tests/fat_image_check.h"
#include "tests/temp_dir.h"

namespace {

using namespace format_test;

SectorWriter WriterFor(MemorySectorStore& store) {
    return [&store](std::uint32_t lba, const std::uint8_t* data) { return store.Write(lba, data); };
}

bool AllZeroFrom(const std::vector<std::uint8_t>& sector, std::size_t from) {
    for (std::size_t i = from; i < sector.size(); ++i)
        if (sector[i] != 0) return false;
    return true;
}

TEST(FatVolume, SectorMapFor64000Sectors) {
    MemorySectorStore store;
    ASSERT_EQ(WriteFatVolume(WriterFor(store), 64000, 65), FatVolumeResult::Written);
    // Boot sector, first FAT 1-63, second FAT 64-126, root 127-158, zeroed sector 159.
    ASSERT_EQ(store.writes.size(), 160u);
    for (std::uint32_t i = 0; i < 160; ++i) EXPECT_EQ(store.writes[i], i);
    const auto& boot = store.sectors[0];
    EXPECT_EQ(boot[0x27], 0x3D);
    EXPECT_EQ(boot[0x28], 0xC9);
    EXPECT_EQ(boot[0x29], 0x58);
    EXPECT_EQ(boot[0x2A], 0x86);
    EXPECT_EQ(boot[0x13] | boot[0x14] << 8, 63567);  // the volume ends at sector 63,566
    EXPECT_EQ(boot[0x16] | boot[0x17] << 8, 63);
    const std::uint8_t fatStart[4] = {0xF8, 0xFF, 0xFF, 0xFF};
    for (std::uint32_t lba = 1; lba <= 159; ++lba) {
        const auto& s = store.sectors[lba];
        if (lba == 1 || lba == 64) {
            EXPECT_EQ(std::memcmp(s.data(), fatStart, 4), 0) << lba;
            EXPECT_TRUE(AllZeroFrom(s, 4)) << lba;
        } else {
            EXPECT_TRUE(AllZeroFrom(s, 0)) << lba;
        }
    }
}

TEST(FatVolume, Fat12StartBytesEndInZero) {
    MemorySectorStore store;
    ASSERT_EQ(WriteFatVolume(WriterFor(store), 16000, 1), FatVolumeResult::Written);
    ASSERT_EQ(store.writes.size(), 28u);
    const std::uint8_t fatStart[4] = {0xF8, 0xFF, 0xFF, 0x00};
    EXPECT_EQ(std::memcmp(store.sectors[1].data(), fatStart, 4), 0);
    EXPECT_EQ(std::memcmp(store.sectors[7].data(), fatStart, 4), 0);  // second FAT at 1 + 6
    EXPECT_TRUE(AllZeroFrom(store.sectors[2], 0));
    EXPECT_TRUE(AllZeroFrom(store.sectors[8], 0));
}

TEST(FatVolume, RefusedSizeWritesNothing) {
    MemorySectorStore store;
    EXPECT_EQ(WriteFatVolume(WriterFor(store), 5 * 63, 1), FatVolumeResult::SizeRefused);
    EXPECT_EQ(WriteFatVolume(WriterFor(store), 9000000, 1), FatVolumeResult::SizeRefused);
    EXPECT_EQ(WriteFatVolume(WriterFor(store), 0, 1), FatVolumeResult::SizeRefused);
    EXPECT_TRUE(store.writes.empty());
}

TEST(FatVolume, FailedWriteStopsTheSequence) {
    MemorySectorStore store;
    store.failuresLeft[30] = 1;
    EXPECT_EQ(WriteFatVolume(WriterFor(store), 64000, 1), FatVolumeResult::WriteFailed);
    EXPECT_EQ(store.writes.back(), 30u);
    EXPECT_EQ(store.writes.size(), 31u);
    MemorySectorStore bootFails;
    bootFails.failuresLeft[0] = 1;
    EXPECT_EQ(WriteFatVolume(WriterFor(bootFails), 64000, 1), FatVolumeResult::WriteFailed);
    EXPECT_EQ(bootFails.writes.size(), 1u);
}

// Sizes from 1 MiB to 1000 MiB, among them both sides of every edge where the cluster size
// changes or has to be raised to keep the cluster count valid.
TEST(FatVolume, VolumesPassFsckAndCarryFiles) {
    const std::uint32_t sizes[] = {
        2048,    4 * 63,  882,     16000,   16383,   16384,   32000,   32767,   32768,
        33011,   33012,   33578,   33579,   33641,   33642,   34815,   34816,   36863,
        36864,   64000,   65536,   67583,   67584,   128000,  256000,  262898,  262899,
        266239,  266240,  525419,  525420,  528383,  528384,  1000000, 1049894, 1049895,
        1052671, 1052672, 2048000, 2064383, 2064384, 2097647, 2097648};
    TempDir dir;
    for (std::uint32_t total : sizes) {
        SCOPED_TRACE(total);
        MemorySectorStore store;
        ASSERT_EQ(WriteFatVolume(WriterFor(store), total, total), FatVolumeResult::Written);
        VolumeGeometry g;
        ASSERT_TRUE(ComputeVolumeGeometry(total, &g));
        // Nothing is written past the first data sector.
        ASSERT_EQ(store.sectors.rbegin()->first, g.FirstDataSector());
        const std::string image = dir.Path() + "/disk.img";
        ASSERT_TRUE(WriteSparseImage(image, store.sectors, total));
        std::string output;
        EXPECT_TRUE(FsckClean(image, &output)) << output;
        EXPECT_NE(output.find(g.fatType == FatType::Fat12 ? "12 bit entries" : "16 bit entries"),
                  std::string::npos)
            << output;
        output.clear();
        const std::size_t dataBytes = std::size_t{g.DataClusters()} * g.sectorsPerCluster * 512;
        const std::size_t largeBytes = std::min<std::size_t>(150000, dataBytes / 3);
        EXPECT_TRUE(MtoolsRoundTrip(image, dir.Path(), largeBytes, &output)) << output;
        output.clear();
        EXPECT_TRUE(FsckClean(image, &output)) << output;  // still sound with files on it
    }
}

}  // namespace
