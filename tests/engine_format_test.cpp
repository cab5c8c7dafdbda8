#include <gtest/gtest.h>

#include <string>

#include "format/flash_geometry.h"
#include "format/physical_format.h"
#include "tests/engine_test_support.h"
#include "tests/fat_image_check.h"
#include "tests/temp_dir.h"

namespace {

using namespace format_test;

const char* const kComplete =
    "Format is complete. Before you can use your device properly you must plug it out then plug "
    "in again.\n";
const char* const kDamagedRun =
    "Your media is damaged and not recoverable!\nKeep using it may cause loss of data.\n";

class EngineFormat : public ::testing::Test {
  protected:
    explicit EngineFormat(std::initializer_list<std::uint8_t> banks = {0x75}) : machine_(banks) {}
    void SetUp() override { ASSERT_TRUE(machine_.Ready()); }

    FormatResult Run(FormatMode mode) { return RunPhysicalFormat(run_, machine_.unit, mode); }
    sim::SimFlashDisk& Disk() { return *machine_.disk; }
    std::uint64_t Count(std::uint8_t op) { return Disk().CommandCount(op); }
    sim::PageBytes CisPage() { return Disk().ReadPage(0, Disk().CisPageNumber()); }
    // Makes all but `good` of group `group`'s first 255 blocks bad (the good ones first).
    void LeaveGoodInGroup(std::uint32_t group, std::uint32_t good) {
        for (std::uint32_t i = good; i < 255; ++i) Disk().SetFactoryBad(0, group * 256 + i);
    }

    // The logical disk passes fsck.fat and takes files.
    void ExpectUsableVolume() {
        TempDir dir;
        const std::string image = dir.Path() + "/disk.img";
        std::string error;
        ASSERT_TRUE(Disk().ExportImage(image, &error)) << error;
        std::string output;
        EXPECT_TRUE(FsckClean(image, &output)) << output;
        output.clear();
        EXPECT_TRUE(MtoolsRoundTrip(image, dir.Path(), 150000, &output)) << output;
    }

    SimFlashDiskMachine machine_;
    FakeRun run_;
};

TEST_F(EngineFormat, QuickFormatOfAFreshDisk) {
    ASSERT_EQ(Run(FormatMode::Quick), FormatResult::CompleteReplug);
    EXPECT_EQ(run_.runMessage, kComplete);
    EXPECT_EQ(run_.percentText, "100%");
    EXPECT_EQ(run_.progress, 4);
    EXPECT_EQ(run_.TotalBlocksValue(), 2048u);
    EXPECT_EQ(run_.BlocksDoneValue(), 2048u);
    EXPECT_EQ(run_.pumps, 2048u);  // exactly one message per block
    EXPECT_TRUE(run_.boxes.empty());
    // Two commands a block: the good test and the erase.
    EXPECT_EQ(Count(0xE8), 2048u);
    EXPECT_EQ(Count(0xF2), 2048u);
    EXPECT_EQ(Count(0xC1) + Count(0xFA) + Count(0xF1), 0u);
    EXPECT_EQ(Count(0xC4), 1u);

    // Block 0 holds the CIS page; every group offers 250 blocks of 32 pages.
    EXPECT_EQ(Disk().CisPageNumber(), 0u);
    const sim::PageBytes cis = CisPage();
    for (int g = 0; g < 8; ++g) EXPECT_EQ(cis[4 + g], 250) << g;
    for (int i = 4 + 8; i < 260; ++i) EXPECT_EQ(cis[i], 0) << i;
    EXPECT_EQ(Le32(&cis[260]), 8u * 250u * 32u);
    for (int b = 1; b < 8; ++b) EXPECT_EQ(Le32(&cis[260 + 4 * b]), 0u) << b;
    EXPECT_EQ(Disk().SectorCount(), 64000u);  // the volume size handed to the FAT writer
    const std::string log = run_.LogText();
    EXPECT_TRUE(Contains(log, "No old CIS/Vendor page\nBank No = 0\nCIS page = 0\n")) << log;
    EXPECT_TRUE(Contains(log, "Total bad blocks = 0\nTotal unable_to_mark_bad blocks = 0\n"));
    ExpectUsableVolume();
}

TEST_F(EngineFormat, TheRecordCountsTheBlocksWhoseDataIsGone) {
    // Marked blocks are left alone; a block whose erase fails was still sent the erase.
    Disk().SetFactoryBad(0, 5);
    Disk().SetFactoryBad(0, 1500);
    Disk().SetEraseFails(0, 40);
    EXPECT_EQ(Run(FormatMode::Quick), FormatResult::CompleteReplug);
    EXPECT_EQ(run_.record.erasedBlocks, 2048u - 2);
    EXPECT_EQ(run_.record.erasedBlocks, Count(0xF2));  // one erase a block in a Quick run
}

TEST_F(EngineFormat, AStoppedRunSaysHowManyBlocksItErased) {
    Disk().SetFactoryBad(0, 5);
    run_.StopWhenBlocksDone(100);  // block 99 is entered, then the stop is seen
    EXPECT_EQ(Run(FormatMode::Quick), FormatResult::Cancelled);
    EXPECT_EQ(run_.record.end, RunEnd::Stopped);
    EXPECT_EQ(run_.record.erasedBlocks, 99u - 1);
    EXPECT_EQ(Count(0xF2), 99u - 1);
}

TEST_F(EngineFormat, FullFormatRunsTheDefaultTestsOnEveryBlock) {
    ASSERT_EQ(Run(FormatMode::Full), FormatResult::CompleteReplug);
    // Per block: good test, 0x55 (4), 0xAA (4), erase, erase verification (2).
    EXPECT_EQ(Count(0xE8), 2048u);
    EXPECT_EQ(Count(0xF2), 3u * 2048u);
    EXPECT_EQ(Count(0xC1), 2u * 2048u);
    EXPECT_EQ(Count(0xFA), 3u * 2048u);
    EXPECT_EQ(Count(0xF3), 3u * 2048u);
    EXPECT_EQ(Count(0xE9), 1u);  // only the CIS page: the ascending test is off by default
    EXPECT_EQ(run_.pumps, 2048u);
    EXPECT_EQ(Disk().SectorCount(), 64000u);
    ExpectUsableVolume();
}

TEST_F(EngineFormat, QuickModeRunsNoTestsEvenWithEverySettingOn) {
    run_.settings = FormatSettings{1, 1, 1, 1, 1, 1, 1, 1, 0};
    Disk().SetEraseFails(0, 9);
    Disk().SetMarkDoesNotStick(0, 9);
    ASSERT_EQ(Run(FormatMode::Quick), FormatResult::CompleteReplug);
    EXPECT_EQ(Count(0xC1) + Count(0xFA) + Count(0xF3), 0u);
    EXPECT_EQ(Count(0xE9), 1u);
    EXPECT_EQ(OpcodesForPages(machine_.bus, 9 * 32, 32),
              (std::vector<std::uint8_t>{0xE8, 0xF2, 0xF1}));  // marked once, not verified
    EXPECT_TRUE(run_.boxes.empty());
    EXPECT_TRUE(Contains(run_.LogText(), "Erase fail at 9\n"));
    EXPECT_TRUE(Contains(run_.LogText(), "Total bad blocks = 1\n"));
    EXPECT_EQ(CisPage()[4], 250);  // 253 free: still capped
}

TEST_F(EngineFormat, WornBlocksPassAQuickFormatAndFailTheFullOne) {
    Disk().SetEraseFailsAfter(0, 20, 1);    // one more erase, then no more
    Disk().SetProgramFailsAfter(0, 21, 0);  // takes no more programs
    ASSERT_EQ(Run(FormatMode::Quick), FormatResult::CompleteReplug);
    EXPECT_TRUE(Contains(run_.LogText(), "Total bad blocks = 0\n")) << run_.LogText();
    EXPECT_FALSE(Disk().IsMarkedBad(0, 20));
    EXPECT_FALSE(Disk().IsMarkedBad(0, 21));
}

TEST_F(EngineFormat, FullFormatFindsWornBlocksAndReadDisturb) {
    Disk().SetEraseFailsAfter(0, 20, 1);  // the 0x55 test's erase passes, the 0xAA test's fails
    Disk().SetProgramFailsAfter(0, 21, 0);
    Disk().SetBitFlips(0, 22, 4);
    ASSERT_EQ(Run(FormatMode::Full), FormatResult::CompleteReplug);
    const std::string log = run_.LogText();
    EXPECT_TRUE(Contains(log, "0xAA pattern fail at 20\n")) << log;
    EXPECT_TRUE(Contains(log, "0x55 pattern fail at 21\n")) << log;
    // Block 22 is counted too, whether a flip made it look marked at the first read or a pattern
    // test read one.
    EXPECT_TRUE(Contains(log, "Total bad blocks = 3\n")) << log;
    EXPECT_LT(Disk().BitFlipsLeft(0, 22), 4u);
    for (std::uint32_t block : {20u, 21u}) EXPECT_TRUE(Disk().IsMarkedBad(0, block)) << block;
    EXPECT_FALSE(Disk().IsMarkedBad(0, 23));
    ExpectUsableVolume();
}

TEST_F(EngineFormat, ErasedButNotFreeIsMarkedBad) {
    Disk().SetStuckBits(0, 12, sim::StuckBits{3, 40, 0x04});
    run_.settings.PtnTest55 = 0;
    run_.settings.PtnTestAA = 0;
    ASSERT_EQ(Run(FormatMode::Full), FormatResult::CompleteReplug);
    EXPECT_EQ(OpcodesForPages(machine_.bus, 12 * 32, 32),
              (std::vector<std::uint8_t>{0xE8, 0xF2, 0xFA, 0xF1}));
    EXPECT_TRUE(Contains(run_.LogText(), "Erased but not free at 12\n"));
}

TEST_F(EngineFormat, ForceTestBadOffCountsMarkedBlocksWithoutTouchingThem) {
    Disk().SetFactoryBad(0, 5);
    ASSERT_EQ(Run(FormatMode::Full), FormatResult::CompleteReplug);
    EXPECT_EQ(OpcodesForPages(machine_.bus, 5 * 32, 32), (std::vector<std::uint8_t>{0xE8}));
    EXPECT_TRUE(Disk().IsMarkedBad(0, 5));
    EXPECT_TRUE(Contains(run_.LogText(), "Bad blk: 5\n"));
    EXPECT_TRUE(Contains(run_.LogText(), "Total bad blocks = 1\n"));
}

TEST_F(EngineFormat, ForceTestBadOnReclaimsAMarkedBlockThatPasses) {
    Disk().SetFactoryBad(0, 0);
    Disk().SetFactoryBad(0, 5);
    run_.settings.ForceTestBad = 1;
    ASSERT_EQ(Run(FormatMode::Full), FormatResult::CompleteReplug);
    EXPECT_FALSE(Disk().IsMarkedBad(0, 5));
    EXPECT_TRUE(Contains(run_.LogText(), "Bad blk: 0\n"));
    EXPECT_TRUE(Contains(run_.LogText(), "Total bad blocks = 0\n"));
    EXPECT_EQ(Disk().CisPageNumber(), 0u);  // the reclaimed block 0 is the CIS target
    EXPECT_EQ(CisPage()[4], 250);
}

TEST_F(EngineFormat, TargetIsTheFirstGoodBlockOfBankZero) {
    Disk().SetFactoryBad(0, 0);
    Disk().SetFactoryBad(0, 1);
    ASSERT_EQ(Run(FormatMode::Quick), FormatResult::CompleteReplug);
    EXPECT_EQ(Disk().CisPageNumber(), 64u);
    EXPECT_TRUE(Contains(run_.LogText(), "CIS page = 64\n"));
}

TEST_F(EngineFormat, GroupClosingTable) {
    // Group 0 holds the CIS block: 200 good of its first 255 give 199 free, entry 196.
    LeaveGoodInGroup(0, 200);
    const std::pair<std::uint32_t, std::uint8_t> groups[] = {
        {255, 250}, {254, 250}, {253, 250}, {200, 197}, {4, 1}, {3, 0}, {0, 0}};
    for (std::uint32_t g = 1; g <= 7; ++g) LeaveGoodInGroup(g, groups[g - 1].first);
    // The last block of a group is never counted, good or bad.
    Disk().SetFactoryBad(0, 256 + 255);
    ASSERT_EQ(Run(FormatMode::Quick), FormatResult::CompleteReplug);
    const sim::PageBytes cis = CisPage();
    EXPECT_EQ(cis[4], 196);
    std::uint32_t entries = 196;
    for (std::uint32_t g = 1; g <= 7; ++g) {
        EXPECT_EQ(cis[4 + g], groups[g - 1].second) << g;
        entries += groups[g - 1].second;
    }
    EXPECT_EQ(Le32(&cis[260]), entries * 32);
    EXPECT_EQ(Disk().SectorCount(), entries * 32);
    ExpectUsableVolume();
}

TEST_F(EngineFormat, TargetAtTheLastBlockOfAGroupTakesNothingBack) {
    LeaveGoodInGroup(0, 0);  // blocks 0-254 bad, block 255 good
    LeaveGoodInGroup(1, 200);
    ASSERT_EQ(Run(FormatMode::Quick), FormatResult::CompleteReplug);
    EXPECT_EQ(Disk().CisPageNumber(), 255u * 32u);
    const sim::PageBytes cis = CisPage();
    EXPECT_EQ(cis[4], 0);
    EXPECT_EQ(cis[5], 197);
    EXPECT_EQ(cis[6], 250);
}

TEST_F(EngineFormat, NoGoodBlockInBankZeroFailsWithoutAVolume) {
    for (std::uint32_t b = 0; b < 2048; ++b) Disk().SetFactoryBad(0, b);
    EXPECT_EQ(Run(FormatMode::Quick), FormatResult::Failed);
    ASSERT_EQ(run_.boxes.size(), 1u);
    EXPECT_EQ(run_.boxes[0].text,
              "Your media was damaged and not recoverabl ! Keep using it may cause loss of "
              "data.(no CIS)");
    EXPECT_EQ(run_.boxes[0].caption, "Brevant Utility");
    EXPECT_EQ(run_.runMessage,
              "Your media was damaged and not recoverabl ! Keep using it may cause loss of data.");
    EXPECT_TRUE(Contains(run_.LogText(), "No CIS page!\n"));
    EXPECT_EQ(Count(0xC4) + Count(0x2A) + Count(0xE9), 0u);
}

TEST_F(EngineFormat, VolumeTooSmallForAFileSystemFailsTheRun) {
    // Two good blocks per group: every entry is 0, so there are no data sectors at all.
    for (std::uint32_t g = 0; g < 8; ++g) LeaveGoodInGroup(g, 2);
    EXPECT_EQ(Run(FormatMode::Quick), FormatResult::Failed);
    EXPECT_EQ(run_.runMessage,
              "Your media was damaged and not recoverabl ! Keep using it may cause loss of data.");
    EXPECT_TRUE(Contains(run_.LogText(), "FAT volume size refused: 0 sectors\n"));
    EXPECT_EQ(Count(0x2A), 0u);
}

TEST_F(EngineFormat, UnverifiableMarksAndTheDamagedMediaBox) {
    for (std::uint32_t b : {20u, 30u, 40u}) {
        Disk().SetEraseFails(0, b);
        Disk().SetMarkDoesNotStick(0, b);
    }
    run_.settings.VerifyMarkBad = 1;
    run_.AnswerBoxes({BoxAnswer::Retry, BoxAnswer::Ignore});
    ASSERT_EQ(Run(FormatMode::Full), FormatResult::CompleteReplug);
    // Retry shows the box again at the next one; Ignore silences it for the rest of the run.
    ASSERT_EQ(run_.boxes.size(), 2u);
    EXPECT_EQ(run_.boxes[0].buttons, BoxButtons::AbortRetryIgnore);
    EXPECT_EQ(run_.boxes[0].caption, "Brevant Utility");
    EXPECT_TRUE(Contains(run_.boxes[0].text, "Please click Abort to stop formatting; \n"));
    // The good test, the 0x55 test's erase, then mark, verify, mark again, verify again.
    EXPECT_EQ(OpcodesForPages(machine_.bus, 30 * 32, 32),
              (std::vector<std::uint8_t>{0xE8, 0xF2, 0xF1, 0xF3, 0xF1, 0xF3}));
    const std::string log = run_.LogText();
    EXPECT_TRUE(Contains(log, "0x55 pattern fail at 40\nMark bad fail at 40\n")) << log;
    EXPECT_TRUE(Contains(log, "Total bad blocks = 3\nTotal unable_to_mark_bad blocks = 3\n"));
    EXPECT_EQ(run_.runMessage, kComplete);  // a completed run replaces the damaged text
}

TEST_F(EngineFormat, IgnoredBoxStillLeavesTheDamagedTextOnAFailedRun) {
    Disk().SetEraseFails(0, 20);
    Disk().SetMarkDoesNotStick(0, 20);
    for (std::uint32_t b = 21; b < 2048; ++b) Disk().SetFactoryBad(0, b);
    for (std::uint32_t b = 0; b < 20; ++b) Disk().SetFactoryBad(0, b);
    run_.settings.VerifyMarkBad = 1;
    run_.AnswerBoxes({BoxAnswer::Ignore});
    EXPECT_EQ(Run(FormatMode::Full), FormatResult::Failed);  // no good block: no CIS
    ASSERT_EQ(run_.boxes.size(), 2u);
    EXPECT_EQ(run_.boxes[1].buttons, BoxButtons::Ok);
}

TEST_F(EngineFormat, UnitNotReady) {
    Disk().SetNotReady(true);
    EXPECT_EQ(Run(FormatMode::Quick), FormatResult::Failed);
    EXPECT_EQ(run_.runMessage, "Media is not present !");
    EXPECT_EQ(run_.pumps, 0u);
}

TEST_F(EngineFormat, UnitAttentionCountsAsReady) {
    Disk().RaiseUnitAttention();
    EXPECT_EQ(Run(FormatMode::Quick), FormatResult::CompleteReplug);
}

TEST_F(EngineFormat, BankCountZeroOrAboveEight) {
    Disk().OverrideReportedBankCount(0);
    EXPECT_EQ(Run(FormatMode::Quick), FormatResult::Failed);
    EXPECT_EQ(run_.runMessage, "Bank number = 0 !\n");
    Disk().OverrideReportedBankCount(9);
    EXPECT_EQ(Run(FormatMode::Quick), FormatResult::Failed);
    EXPECT_EQ(run_.runMessage, "Bank number > 8 !\n");
    EXPECT_EQ(Count(0xFB), 0u);  // refused before a bank is touched
    EXPECT_EQ(run_.progressResets, 0u);
}

// 16 MiB, 1024 blocks of 32 pages: for the slow ascending-pattern runs.
class EngineSmallDisk : public EngineFormat {
  protected:
    EngineSmallDisk() : EngineFormat({0x73}) {}
};

TEST_F(EngineSmallDisk, FailedPatternTestSkipsTheRestOfTheBlock) {
    run_.settings.AscendPtnTest = 1;
    run_.settings.VerifyMarkBad = 1;
    // Bit 0 of the first byte of the block's second page reads 0: the ascending pattern (0x00
    // there) passes, 0x55 fails. The good test reads only the first page.
    Disk().SetStuckBits(0, 7, sim::StuckBits{1, 0, 0x01});
    ASSERT_EQ(Run(FormatMode::Full), FormatResult::CompleteReplug);
    std::vector<std::uint8_t> expected = {0xE8, 0xF2};
    for (int page = 0; page < 32; ++page) {
        expected.push_back(0xE9);
        expected.push_back(0xE8);
    }
    // 0x55: erase, fill, data read (the data differs, so no spare read); then mark and verify.
    for (std::uint8_t op : {0xF2, 0xC1, 0xFA, 0xF1, 0xF3}) expected.push_back(op);
    EXPECT_EQ(OpcodesForPages(machine_.bus, 7 * 32, 32), expected);
    const std::string log = run_.LogText();
    EXPECT_TRUE(Contains(log, "Bank No = 0\n0x55 pattern fail at 7\n")) << log;
    EXPECT_FALSE(Contains(log, "0xAA pattern fail at 7\n"));
    EXPECT_FALSE(Contains(log, "Erase fail at 7\n"));
    EXPECT_TRUE(Disk().IsMarkedBad(0, 7));
    EXPECT_TRUE(Contains(log, "Total bad blocks = 1\nTotal unable_to_mark_bad blocks = 0\n"));
}

class EngineTwoBanks : public EngineFormat {
  protected:
    EngineTwoBanks() : EngineFormat({0x75, 0x79}) {}
};

TEST_F(EngineTwoBanks, TotalsRunOnAcrossBanks) {
    machine_.disk->SetFactoryBad(1, 300);  // group 1 of bank 1: 254 free
    for (std::uint32_t b = 512; b < 512 + 100; ++b) machine_.disk->SetFactoryBad(1, b);
    ASSERT_EQ(Run(FormatMode::Quick), FormatResult::CompleteReplug);
    EXPECT_EQ(run_.TotalBlocksValue(), 10240u);
    EXPECT_EQ(run_.BlocksDoneValue(), 10240u);
    const sim::PageBytes cis = CisPage();
    const std::uint32_t bank0 = Le32(&cis[260]);
    EXPECT_EQ(bank0, 8u * 250u * 32u);
    std::uint32_t bank1Entries = 0;
    for (int g = 0; g < 32; ++g) bank1Entries += cis[4 + 32 + g];
    EXPECT_EQ(cis[4 + 32 + 1], 250);
    EXPECT_EQ(cis[4 + 32 + 2], 152);  // 155 free - 3
    EXPECT_EQ(Le32(&cis[264]), bank0 + bank1Entries * 32);
    EXPECT_EQ(Disk().SectorCount(), Le32(&cis[264]));
    EXPECT_TRUE(Contains(run_.LogText(), "Bank No = 1\n"));
    ExpectUsableVolume();
}

class EngineUnknownBank : public EngineFormat {
  protected:
    EngineUnknownBank() : EngineFormat({0x75, 0x00}) {}
};

TEST_F(EngineUnknownBank, InvalidDeviceCodeFailsBeforeTheScan) {
    EXPECT_EQ(Run(FormatMode::Quick), FormatResult::Failed);
    EXPECT_EQ(run_.runMessage, "Invalid SmartMedia or flash device code!\n");
    EXPECT_TRUE(Contains(run_.LogText(), "Invalid device code at bank 1\n"));
    EXPECT_EQ(Count(0xF2) + Count(0xE8), 0u);
}

}  // namespace
