#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "format/block_probes.h"
#include "format/flash_geometry.h"
#include "format/page_image.h"

namespace {

TEST(ProbeGeometryTable, KnownCodesGiveTheirRecords) {
    struct Expected {
        std::uint8_t code;
        std::uint16_t pageBytes;
        std::uint8_t spare, pages, flags;
        std::uint16_t blocks;
        std::uint32_t mib;
    };
    const Expected expected[] = {
        {0x6E, 256, 8, 16, 0x08, 256, 1},     {0xE8, 256, 8, 16, 0x08, 256, 1},
        {0xEC, 256, 8, 16, 0x08, 256, 1},     {0x64, 256, 8, 16, 0x08, 512, 2},
        {0xEA, 256, 8, 16, 0x08, 512, 2},     {0x6B, 512, 16, 16, 0x00, 512, 4},
        {0xE3, 512, 16, 16, 0x00, 512, 4},    {0xE5, 512, 16, 16, 0x00, 512, 4},
        {0xE6, 512, 16, 16, 0x00, 1024, 8},   {0x73, 512, 16, 32, 0x00, 1024, 16},
        {0x75, 512, 16, 32, 0x00, 2048, 32},  {0x76, 512, 16, 32, 0x20, 4096, 64},
        {0x79, 512, 16, 32, 0x20, 8192, 128},
    };
    for (const Expected& e : expected) {
        const FlashGeometry* g = LookupFlashGeometry(e.code);
        ASSERT_NE(g, nullptr) << std::hex << int{e.code};
        EXPECT_EQ(g->deviceCode, e.code);
        EXPECT_EQ(g->pageDataBytes, e.pageBytes);
        EXPECT_EQ(g->spareBytesPerPage, e.spare);
        EXPECT_EQ(g->pagesPerBlock, e.pages);
        EXPECT_EQ(g->deviceFlags, e.flags);
        EXPECT_EQ(g->blocksPerBank, e.blocks);
        EXPECT_EQ(std::uint32_t{g->pageDataBytes} * g->pagesPerBlock * g->blocksPerBank,
                  e.mib << 20);
    }
}

TEST(ProbeGeometryTable, UnknownCodesAndTheEndMarkerGiveNone) {
    std::set<int> known;
    for (std::size_t i = 0; i < kFlashGeometryCount; ++i)
        known.insert(FlashGeometryTable[i].deviceCode);
    EXPECT_EQ(known.size(), kFlashGeometryCount);  // codes are unique
    for (int code = 0; code < 256; ++code) {
        const FlashGeometry* g = LookupFlashGeometry(static_cast<std::uint8_t>(code));
        EXPECT_EQ(g != nullptr, known.count(code) == 1) << code;
    }
    EXPECT_EQ(LookupFlashGeometry(0xFF), nullptr);
    EXPECT_EQ(LookupFlashGeometry(0x00), nullptr);
    const FlashGeometry& end = FlashGeometryTable[kFlashGeometryCount];
    EXPECT_EQ(end.deviceCode, 0xFF);
    EXPECT_EQ(end.blocksPerBank, 0xFFFF);
    EXPECT_EQ(end.pagesPerBlock, 0xFF);
}

TEST(ProbeIsAllFF, ChecksEveryByteOfTheRangeAndNoMore) {
    std::uint8_t buf[513];
    for (std::size_t length : {std::size_t{5}, std::size_t{6}, std::size_t{512}}) {
        std::memset(buf, 0xFF, sizeof buf);
        buf[length] = 0x00;  // just past the range: not looked at
        EXPECT_TRUE(IsAllFF(buf, length)) << length;
        for (std::size_t bad = 0; bad < length; ++bad) {
            buf[bad] = 0xFE;
            EXPECT_FALSE(IsAllFF(buf, length)) << length << " " << bad;
            buf[bad] = 0xFF;
        }
    }
    EXPECT_TRUE(IsAllFF(buf, 0));
    buf[0] = 0;
    EXPECT_TRUE(IsAllFF(buf, 0));
}

TEST(ProbePageImage, AscendingPatternCountsWordsOverDataAndSpare) {
    const PageImage& p = AscendingPattern();
    EXPECT_EQ(p[0], 0x00);
    EXPECT_EQ(p[1], 0x00);
    EXPECT_EQ(p[2], 0x01);
    EXPECT_EQ(p[3], 0x00);
    EXPECT_EQ(p[510], 0xFF);  // word 255
    EXPECT_EQ(p[511], 0x00);
    EXPECT_EQ(p[512], 0x00);  // word 256 starts the spare area
    EXPECT_EQ(p[513], 0x01);
    EXPECT_EQ(p[526], 0x07);  // word 263
    EXPECT_EQ(p[527], 0x01);
    for (std::size_t w = 0; w < 264; ++w) EXPECT_EQ(p[2 * w] | (p[2 * w + 1] << 8), int(w));
}

TEST(CisPageImage, CarriesSignatureGroupsTotalsAndSpare) {
    GroupTable groups{};
    BankSectorTotals totals{};
    groups[0][0] = 250;
    groups[0][31] = 7;
    groups[1][0] = 196;
    groups[7][31] = 1;
    totals[0] = 0x01020304;
    totals[1] = 0xA0B0C0D0;
    totals[7] = 0xFFFFFFFF;
    const PageImage page = BuildDiskCisPage(groups, totals);
    EXPECT_EQ(std::memcmp(page.data(), "USBC", 4), 0);
    EXPECT_TRUE(HasCisSignature(page));
    EXPECT_EQ(page[4], 250);
    EXPECT_EQ(page[4 + 31], 7);
    EXPECT_EQ(page[4 + 32], 196);
    EXPECT_EQ(page[4 + 7 * 32 + 31], 1);
    EXPECT_EQ(page[260], 0x04);
    EXPECT_EQ(page[263], 0x01);
    EXPECT_EQ(page[264], 0xD0);
    EXPECT_EQ(page[267], 0xA0);
    for (int i = 288; i < 292; ++i) EXPECT_EQ(page[i], 0xFF);
    int nonZeroGroups = 0;
    for (int i = 4; i < 260; ++i) nonZeroGroups += page[i] != 0;
    EXPECT_EQ(nonZeroGroups, 4);
    for (int i = 292; i < 512; ++i) EXPECT_EQ(page[i], 0) << i;
    for (int i = 512; i < 518; ++i) EXPECT_EQ(page[i], 0xFF) << i;
    for (int i = 518; i < 528; ++i) EXPECT_EQ(page[i], 0x00) << i;
}

TEST(CisPageImage, SignatureNeedsAllFourBytes) {
    PageImage page{};
    std::memcpy(page.data(), "USBD", 4);
    EXPECT_FALSE(HasCisSignature(page));
    std::memcpy(page.data(), "XSBC", 4);
    EXPECT_FALSE(HasCisSignature(page));
    std::memcpy(page.data(), "USBC", 4);
    EXPECT_TRUE(HasCisSignature(page));
}

}  // namespace
