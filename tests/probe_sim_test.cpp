#include <gtest/gtest.h>

#include <cstring>

#include "format/block_probes.h"
#include "format/flash_geometry.h"
#include "format/page_image.h"
#include "reader/commands.h"
#include "sim/machine/factory_image.h"
#include "tests/format_sim_disk.h"

namespace {

constexpr std::uint8_t kOpWritePage = 0xE9;
constexpr std::uint8_t kOpReadPage = 0xE8;
constexpr std::uint8_t kOpErase = 0xF2;
constexpr std::uint8_t kOpFill = 0xC1;
constexpr std::uint8_t kOpReadSpare = 0xF3;
constexpr std::uint8_t kOpReadBlock = 0xFA;

class ProbeSim : public ::testing::Test {
  protected:
    ProbeSim() : machine_({0x75}), g_(*LookupFlashGeometry(0x75)) {}
    void SetUp() override { ASSERT_TRUE(machine_.Ready()); }

    sim::SimFlashDisk& Disk() { return *machine_.disk; }
    MediaType Unit() const { return machine_.unit; }
    std::uint64_t Count(std::uint8_t op) { return Disk().CommandCount(op); }
    // A page image with the given data byte and spare bytes.
    void Program(std::uint32_t page, std::uint8_t data, std::uint8_t spare) {
        sim::PageBytes image;
        image.fill(data);
        std::memset(image.data() + 512, spare, 16);
        Disk().ProgramPageRaw(0, page, image.data());
    }

    SimFlashDiskMachine machine_;
    const FlashGeometry& g_;
};

TEST_F(ProbeSim, ErasedBlockIsGoodAndUnmarked) {
    EXPECT_TRUE(IsBlockGood(Unit(), 5, g_));
    EXPECT_TRUE(IsBlockUnmarked(Unit(), 5, g_));
    EXPECT_FALSE(IsBlockMarked(Unit(), 5, g_));
}

TEST_F(ProbeSim, BlankLookingBlockWithDataIsBad) {
    sim::PageBytes image;
    image.fill(0xFF);
    image[300] = 0x00;  // spare 0-10 all 0xFF: says blank, yet holds data
    Disk().ProgramPageRaw(0, 7 * 32, image.data());
    EXPECT_FALSE(IsBlockGood(Unit(), 7, g_));
    EXPECT_TRUE(IsBlockUnmarked(Unit(), 7, g_));
    image[512 + 6] = 0x00;  // now it says it holds data: good whatever the data
    Disk().ProgramPageRaw(0, 7 * 32, image.data());
    EXPECT_TRUE(IsBlockGood(Unit(), 7, g_));
    Program(8 * 32, 0x12, 0x00);  // spare 0-5 zero: marked bad
    EXPECT_FALSE(IsBlockGood(Unit(), 8, g_));
}

TEST_F(ProbeSim, AnyOfTheSixMarkBytesMarksTheBlock) {
    for (int byte = 0; byte < 6; ++byte) {
        sim::PageBytes image;
        image.fill(0xFF);
        image[512 + byte] = 0xF0;
        Disk().ProgramPageRaw(0, 9 * 32, image.data());
        EXPECT_TRUE(IsBlockMarked(Unit(), 9, g_)) << byte;
        EXPECT_FALSE(IsBlockGood(Unit(), 9, g_)) << byte;
    }
    sim::PageBytes image;
    image.fill(0xFF);
    image[512 + 6] = 0x00;  // spare 6 is not part of the mark
    Disk().ProgramPageRaw(0, 9 * 32, image.data());
    EXPECT_FALSE(IsBlockMarked(Unit(), 9, g_));
}

TEST_F(ProbeSim, FailedReadsCountAsMarkedAndBad) {
    machine_.bus.Unplug();
    EXPECT_FALSE(IsBlockGood(Unit(), 5, g_));
    EXPECT_TRUE(IsBlockMarked(Unit(), 5, g_));
    EXPECT_FALSE(TestBlockPattern(Unit(), 5, g_, 0x55, true));
    EXPECT_FALSE(IsWriteProtected(Unit()));
}

TEST_F(ProbeSim, BytePatternTestCostsFourCommandsOrTwo) {
    const std::uint64_t before = machine_.bus.Trace().size();
    EXPECT_TRUE(TestBlockPattern(Unit(), 3, g_, 0x55, true));
    EXPECT_EQ(machine_.bus.Trace().size() - before, 4u);
    EXPECT_EQ(Count(kOpErase), 1u);
    EXPECT_EQ(Count(kOpFill), 1u);
    EXPECT_EQ(Disk().ReadPage(0, 3 * 32 + 31)[527], 0x55);
    EXPECT_TRUE(TestBlockPattern(Unit(), 3, g_, 0x55, false));  // still holds it
    EXPECT_EQ(machine_.bus.Trace().size() - before, 6u);
    EXPECT_FALSE(TestBlockPattern(Unit(), 3, g_, 0xFF, false));  // not erased
    EXPECT_EQ(Count(kOpReadBlock), 3u);
    EXPECT_EQ(Count(kOpReadSpare), 2u);  // the data already differed the third time
}

TEST_F(ProbeSim, OneWrongByteInTheLastSpareAreaFailsTheBytePattern) {
    Disk().SetStuckBits(0, 4, sim::StuckBits{31, 527, 0x01});
    // Bit 0 of the last spare byte reads 0: invisible under 0xAA, fatal under 0x55.
    EXPECT_TRUE(TestBlockPattern(Unit(), 4, g_, 0xAA, true));
    EXPECT_FALSE(TestBlockPattern(Unit(), 4, g_, 0x55, true));
    EXPECT_TRUE(TestBlockPattern(Unit(), 5, g_, 0x55, true));
}

TEST_F(ProbeSim, StuckDataBitFailsTheErasedCheck) {
    Disk().SetStuckBits(0, 6, sim::StuckBits{0, 10, 0x80});
    ASSERT_EQ(EraseBlock(Unit(), 6, 32), 1);
    EXPECT_FALSE(TestBlockPattern(Unit(), 6, g_, 0xFF, false));
}

TEST_F(ProbeSim, AscendingPatternWritesAndChecksEveryPage) {
    const std::uint64_t before = machine_.bus.Trace().size();
    EXPECT_TRUE(TestBlockPattern(Unit(), 2, g_, AscendingSelector, false));
    EXPECT_EQ(machine_.bus.Trace().size() - before, 1u + 2u * 32u);
    const sim::PageBytes page = Disk().ReadPage(0, 2 * 32 + 17);
    EXPECT_EQ(std::memcmp(page.data(), AscendingPattern().data(), 528), 0);
}

TEST_F(ProbeSim, AscendingPatternStopsAtTheFirstPageThatDiffers) {
    Disk().SetStuckBits(0, 2, sim::StuckBits{2, 100, 0x02});  // word 50 = 0x0032 has bit 1 set
    EXPECT_FALSE(TestBlockPattern(Unit(), 2, g_, AscendingSelector, true));
    EXPECT_EQ(Count(kOpWritePage), 3u);  // pages 0, 1, 2; later pages untouched
    EXPECT_EQ(Count(kOpReadPage), 3u);
    const sim::PageBytes untouched = Disk().ReadPage(0, 2 * 32 + 3);
    for (std::uint8_t b : untouched) ASSERT_EQ(b, 0xFF);
}

TEST_F(ProbeSim, EraseFailureFailsEveryPatternTest) {
    Disk().SetEraseFails(0, 11);
    EXPECT_FALSE(TestBlockPattern(Unit(), 11, g_, AscendingSelector, true));
    EXPECT_FALSE(TestBlockPattern(Unit(), 11, g_, 0x55, true));
    EXPECT_EQ(Count(kOpWritePage), 0u);
    EXPECT_EQ(Count(kOpFill), 0u);
}

TEST_F(ProbeSim, WriteProtectWithoutCisPageProbesARawPage) {
    EXPECT_FALSE(IsWriteProtected(Unit()));
    EXPECT_EQ(Count(kOpWritePage), 1u);
    Disk().SetWriteProtected(true);
    EXPECT_TRUE(IsWriteProtected(Unit()));
}

TEST_F(ProbeSim, WriteProtectProbeSkipsMarkedBlocksAndGivesUpWhenAllAre) {
    Disk().SetWriteProtected(true);
    for (std::uint32_t block = 1; block < 2048; ++block) Disk().SetFactoryBad(0, block);
    EXPECT_FALSE(IsWriteProtected(Unit()));
    EXPECT_EQ(Count(kOpWritePage), 0u);
    EXPECT_EQ(Count(kOpReadPage), 2047u);
}

TEST_F(ProbeSim, WriteProtectWithCisPageProbesALogicalSector) {
    sim::WriteCisPage(Disk(), 0, 60000);
    Disk().SetSectorCount(60000);
    std::uint8_t sector[512];
    std::memset(sector, 0x5A, sizeof sector);
    ASSERT_TRUE(Disk().WriteSector(1, sector));
    EXPECT_FALSE(IsWriteProtected(Unit()));
    std::uint8_t back[512];
    ASSERT_TRUE(Disk().ReadSector(1, back));
    EXPECT_EQ(std::memcmp(back, sector, 512), 0);  // written back unchanged
    EXPECT_EQ(Count(kOpWritePage), 0u);
    Disk().SetWriteProtected(true);
    EXPECT_TRUE(IsWriteProtected(Unit()));
}

}  // namespace
