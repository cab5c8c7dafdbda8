// Reading a stick's CIS page and its volume's boot sector back from their bytes.
#include "format/media_decode.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "format/fat_volume.h"

namespace {

TEST(MediaDecode, TheCisPageTheFormatWritesReadsBack) {
    GroupTable groups{};
    BankSectorTotals totals{};
    groups[0][0] = 250;
    groups[0][1] = 197;
    groups[1][0] = 1;
    totals[0] = (250 + 197) * 32;
    totals[1] = totals[0] + 1 * 16;
    const PageImage page = BuildDiskCisPage(groups, totals);
    DecodedCisPage decoded;
    ASSERT_TRUE(DecodeCisPage(page, &decoded));
    EXPECT_EQ(decoded.groups, groups);
    EXPECT_EQ(decoded.totals, totals);
    EXPECT_EQ(decoded.banks, 2);
    EXPECT_EQ(decoded.sectors, totals[1]);
    EXPECT_TRUE(decoded.TotalsAgree({32, 16}));
    EXPECT_FALSE(decoded.TotalsAgree({32, 32}));  // bank 1's step is not what its groups offer
    EXPECT_FALSE(decoded.TotalsAgree({32, 0}));   // a bank whose geometry is unknown

    PageImage other = page;
    other[0] = 'X';
    EXPECT_FALSE(DecodeCisPage(other, &decoded));
}

TEST(MediaDecode, TheVolumesTheWriterLaysDownReadBack) {
    for (std::uint32_t total : {16000u, 32768u, 64000u, 128000u, 262899u, 1000000u, 2047999u}) {
        SCOPED_TRACE(total);
        std::map<std::uint32_t, std::vector<std::uint8_t>> sectors;
        const SectorWriter write = [&](std::uint32_t lba, const std::uint8_t* data) {
            sectors[lba].assign(data, data + 512);
            return true;
        };
        ASSERT_EQ(WriteFatVolume(write, total, 65), FatVolumeResult::Written);
        VolumeGeometry geometry;
        ASSERT_TRUE(ComputeVolumeGeometry(total, &geometry));
        DecodedBootSector boot;
        ASSERT_TRUE(DecodeBootSector(sectors[0].data(), &boot));
        EXPECT_EQ(boot.totalSectors, geometry.volumeSectors);
        EXPECT_EQ(boot.sectorsPerCluster, geometry.sectorsPerCluster);
        EXPECT_EQ(boot.sectorsPerFat, geometry.sectorsPerFat);
        EXPECT_EQ(boot.rootEntries, geometry.rootEntries);
        EXPECT_EQ(boot.clusters, geometry.DataClusters());
        EXPECT_EQ(boot.type, geometry.fatType);
        EXPECT_EQ(boot.label, "NO NAME");
        EXPECT_EQ(boot.serial, (std::array<std::uint8_t, 4>{0x3D, 0xC9, 0x58, 0x86}));
    }
}

TEST(MediaDecode, WhatIsNotAFatBootSectorIsRefused) {
    std::map<std::uint32_t, std::vector<std::uint8_t>> sectors;
    ASSERT_EQ(WriteFatVolume(
                  [&](std::uint32_t lba, const std::uint8_t* data) {
                      sectors[lba].assign(data, data + 512);
                      return true;
                  },
                  64000, 1),
              FatVolumeResult::Written);
    const std::vector<std::uint8_t> good = sectors[0];
    DecodedBootSector boot;
    ASSERT_TRUE(DecodeBootSector(good.data(), &boot));

    auto broken = [&good](std::size_t at, std::uint8_t value) {
        std::vector<std::uint8_t> s = good;
        s[at] = value;
        return s;
    };
    const std::vector<std::vector<std::uint8_t>> cases = {
        std::vector<std::uint8_t>(512, 0),       // an erased or never written sector
        std::vector<std::uint8_t>(512, 0xFF),    //
        broken(510, 0x00),                       // no signature
        broken(boot::kBytesPerSector + 1, 4),    // 1024-byte sectors
        broken(boot::kSectorsPerCluster, 3),     // not a power of two
        broken(boot::kSectorsPerCluster, 0),     //
        broken(boot::kFatCount, 0),              // no FAT
        broken(boot::kSectorsPerFat, 0),         // FATs of no size
        broken(boot::kSectorsPerFat + 1, 0xFF),  // FATs larger than the volume
        broken(boot::kTotalSectors16 + 1, 0),    // a volume smaller than its own FATs
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_FALSE(DecodeBootSector(cases[i].data(), &boot)) << "case " << i;
    }
}

}  // namespace
