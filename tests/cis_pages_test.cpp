#include "format/cis_pages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "format/block_probes.h"
#include "format/fat_volume.h"
#include "format/physical_format.h"
#include "sim/machine/factory_image.h"
#include "tests/engine_test_support.h"

namespace {

using namespace format_test;

const char* const kDamagedRun =
    "Your media is damaged and not recoverable!\nKeep using it may cause loss of data.\n";

class CisPages : public ::testing::Test {
  protected:
    explicit CisPages(std::initializer_list<std::uint8_t> banks = {0x75}) : machine_(banks) {}
    void SetUp() override { ASSERT_TRUE(machine_.Ready()); }

    sim::SimFlashDisk& Disk() { return *machine_.disk; }
    FormatResult Run(FormatMode mode) { return RunPhysicalFormat(run_, machine_.unit, mode); }
    // An old format's CIS page at `cisPage` and, if wanted, a vendor page right after it.
    void OldFormat(std::uint32_t cisPage, bool vendor) {
        sim::WriteCisPage(Disk(), cisPage, 60000);
        if (vendor) sim::WriteVendorPage(Disk(), cisPage + 1, "vendor data 1234");
        Disk().SetSectorCount(60000);
        oldCis_ = Disk().ReadPage(0, cisPage);
        oldVendor_ = Disk().ReadPage(0, cisPage + 1);
    }
    std::uint64_t WritesTo(std::uint32_t page) {
        std::uint64_t n = 0;
        for (const sim::TraceEntry& e : machine_.bus.Trace())
            n += e.cdb[0] == 0xE9 && PageOfCommand(e.cdb) == page;
        return n;
    }

    SimFlashDiskMachine machine_;
    FakeRun run_;
    sim::PageBytes oldCis_{};
    sim::PageBytes oldVendor_{};
};

TEST_F(CisPages, StopPutsTheOldPagesBackByteForByte) {
    OldFormat(64, true);
    run_.StopWhenBlocksDone(100);
    EXPECT_EQ(Run(FormatMode::Quick), FormatResult::Cancelled);
    EXPECT_EQ(run_.BlocksDoneValue(), 100u);  // includes the block where Stop was seen
    EXPECT_EQ(run_.pumps, 100u);
    EXPECT_TRUE(run_.runMessage.empty());
    EXPECT_EQ(Disk().ReadPage(0, 64), oldCis_);
    EXPECT_EQ(Disk().ReadPage(0, 65), oldVendor_);
    EXPECT_EQ(Disk().CisPageNumber(), 64u);
    EXPECT_EQ(Disk().CommandCount(0xC4) + Disk().CommandCount(0x2A), 0u);
    EXPECT_EQ(Disk().CommandCount(0xF2), 99u);  // block 99 was entered, not erased
    const std::string log = run_.LogText();
    EXPECT_TRUE(Contains(log, "Old CIS page no = 64\nOld vendor page no = 65\nBank No = 0\n"))
        << log;
    EXPECT_TRUE(Contains(log, "User stop\nSave old CIS/Vendor page if exist\n")) << log;
    EXPECT_FALSE(Contains(log, "CIS page = "));
}

// The whole log of a run, line by line: nothing missing, nothing added, nothing out of order.
TEST_F(CisPages, LogOfACompleteFullRunLineByLine) {
    OldFormat(64, true);
    Disk().SetFactoryBad(0, 5);
    Disk().SetEraseFails(0, 9);
    ASSERT_EQ(Run(FormatMode::Full), FormatResult::CompleteReplug);
    EXPECT_EQ(run_.LogText(),
              "Old CIS page no = 64\n"
              "Old vendor page no = 65\n"
              "Bank No = 0\n"
              "Bad blk: 5\n"
              "0x55 pattern fail at 9\n"
              "CIS page = 0\n"
              "Total bad blocks = 2\n"
              "Total unable_to_mark_bad blocks = 0\n");
}

TEST_F(CisPages, LogOfAStoppedRunLineByLine) {
    OldFormat(64, true);
    run_.settings.RestoreVendorPage = 0;
    run_.StopWhenBlocksDone(3);
    ASSERT_EQ(Run(FormatMode::Quick), FormatResult::Cancelled);
    EXPECT_EQ(run_.LogText(),
              "Old CIS page no = 64\n"
              "RestoreVendorPage = 0\n"
              "Bank No = 0\n"
              "User stop\n"
              "Save old CIS/Vendor page if exist\n");
}

TEST_F(CisPages, StopBeforeTheCisBlockWasErasedLeavesItIntact) {
    OldFormat(64, true);
    run_.StopWhenBlocksDone(1);
    EXPECT_EQ(Run(FormatMode::Full), FormatResult::Cancelled);
    EXPECT_EQ(Disk().ReadPage(0, 64), oldCis_);
    EXPECT_EQ(Disk().ReadPage(0, 65), oldVendor_);
}

TEST_F(CisPages, NoOldCisPageMeansNothingToPutBack) {
    run_.StopWhenBlocksDone(50);
    EXPECT_EQ(Run(FormatMode::Quick), FormatResult::Cancelled);
    EXPECT_EQ(Disk().CommandCount(0xE9), 0u);
    EXPECT_EQ(Disk().CommandCount(0xE8), 49u);  // good tests only: no vendor page looked for
    EXPECT_TRUE(Contains(run_.LogText(), "No old CIS/Vendor page\nBank No = 0\n"));
}

TEST_F(CisPages, AbortInTheDamagedMediaBoxPutsTheOldPagesBack) {
    OldFormat(0, true);
    Disk().SetEraseFails(0, 10);
    Disk().SetMarkDoesNotStick(0, 10);
    run_.settings.VerifyMarkBad = 1;
    run_.AnswerBoxes({BoxAnswer::Abort});
    EXPECT_EQ(Run(FormatMode::Full), FormatResult::Cancelled);
    EXPECT_EQ(run_.boxes.size(), 1u);
    EXPECT_EQ(run_.BlocksDoneValue(), 11u);
    EXPECT_EQ(run_.runMessage, kDamagedRun);
    EXPECT_EQ(Disk().ReadPage(0, 0), oldCis_);
    EXPECT_EQ(Disk().ReadPage(0, 1), oldVendor_);
    EXPECT_EQ(Disk().CommandCount(0xC4), 0u);
    const std::string log = run_.LogText();
    EXPECT_TRUE(
        Contains(log, "Mark bad fail at 10\nSave old CIS/Vendor page if exist\nUser abort\n"))
        << log;
    EXPECT_FALSE(Contains(log, "User stop\n"));
}

TEST_F(CisPages, VendorPageMovesWithTheCisPage) {
    OldFormat(0, true);
    Disk().SetEraseFails(0, 0);  // block 0 fails its erase in this run
    ASSERT_EQ(Run(FormatMode::Quick), FormatResult::CompleteReplug);
    EXPECT_EQ(Disk().CisPageNumber(), 32u);
    EXPECT_EQ(Disk().ReadPage(0, 33), oldVendor_);
    // The vendor page is written first, then the CIS page.
    std::vector<std::uint32_t> pageWrites;
    for (const sim::TraceEntry& e : machine_.bus.Trace())
        if (e.cdb[0] == 0xE9) pageWrites.push_back(PageOfCommand(e.cdb));
    EXPECT_EQ(pageWrites, (std::vector<std::uint32_t>{33, 32}));
    EXPECT_TRUE(Contains(run_.LogText(), "Erase fail at 0\nCIS page = 32\n"));
}

TEST_F(CisPages, RestoreVendorPageOffLeavesTheNextPageAlone) {
    OldFormat(64, true);
    run_.settings.RestoreVendorPage = 0;
    ASSERT_EQ(Run(FormatMode::Quick), FormatResult::CompleteReplug);
    EXPECT_TRUE(Contains(run_.LogText(), "Old CIS page no = 64\nRestoreVendorPage = 0\nBank No"));
    for (const sim::TraceEntry& e : machine_.bus.Trace())
        EXPECT_NE(PageOfCommand(e.cdb), 65u) << std::hex << int{e.cdb[0]};
    EXPECT_EQ(WritesTo(1), 0u);
    const sim::PageBytes after = Disk().ReadPage(0, 1);
    for (std::uint8_t b : after) ASSERT_EQ(b, 0xFF);
}

TEST_F(CisPages, PageWithoutTheSignatureIsNoVendorPage) {
    OldFormat(64, false);
    sim::PageBytes notVendor;
    notVendor.fill(0x11);
    std::memcpy(notVendor.data(), "USBX", 4);
    Disk().ProgramPageRaw(0, 65, notVendor.data());
    run_.StopWhenBlocksDone(10);
    EXPECT_EQ(Run(FormatMode::Quick), FormatResult::Cancelled);
    EXPECT_TRUE(Contains(run_.LogText(), "Old CIS page no = 64\nNo old vendor page\n"));
    EXPECT_EQ(WritesTo(64), 1u);
    EXPECT_EQ(WritesTo(65), 0u);
}

TEST_F(CisPages, NewCisPageOfAOneBankDisk) {
    OldFormat(64, true);
    ASSERT_EQ(Run(FormatMode::Quick), FormatResult::CompleteReplug);
    ASSERT_EQ(Disk().CisPageNumber(), 0u);
    const sim::PageBytes cis = Disk().ReadPage(0, 0);
    EXPECT_EQ(std::memcmp(cis.data(), "USBC", 4), 0);
    for (int i = 4 + 32; i < 260; ++i) EXPECT_EQ(cis[i], 0) << i;
    for (int b = 1; b < 8; ++b) EXPECT_EQ(Le32(&cis[260 + 4 * b]), 0u);
    EXPECT_EQ(Le32(&cis[260]), Disk().SectorCount());
    EXPECT_EQ(Disk().ReadPage(0, 1), oldVendor_);  // moved behind the new CIS page
    for (int i = 292; i < 512; ++i) ASSERT_EQ(cis[i], 0);
    for (int i = 512; i < 518; ++i) EXPECT_EQ(cis[i], 0xFF);
    for (int i = 518; i < 528; ++i) EXPECT_EQ(cis[i], 0x00);
}

TEST_F(CisPages, CisWriteFailureFailsTheRunWithoutAVolume) {
    // The first good block of bank 0 erases, but no page of it takes a program any more.
    Disk().SetProgramFailsAfter(0, 0, 0);
    EXPECT_EQ(Run(FormatMode::Quick), FormatResult::Failed);
    ASSERT_EQ(run_.boxes.size(), 1u);
    EXPECT_EQ(run_.boxes[0].text, "Write CIS page fail!\n");
    EXPECT_EQ(run_.boxes[0].caption, "Brevant");  // the application's name, not the title
    EXPECT_EQ(run_.runMessage, "Write CIS page fail !\n");
    EXPECT_TRUE(Contains(run_.LogText(), "CIS page = 0\nWrite CIS fail\n"));
    EXPECT_EQ(Disk().CommandCount(0xC4) + Disk().CommandCount(0x2A), 0u);
    EXPECT_EQ(run_.record.end, RunEnd::Failed);
}

// A stick whose switch goes on in the middle of a run: the first refused erase ends it, as
// write-protected, and nothing more is erased or marked.
TEST_F(CisPages, AWriteProtectedStickEndsTheRunAtItsFirstRefusal) {
    OldFormat(64, true);
    run_.onPump = [this](std::uint32_t done) {
        if (done == 1000) Disk().SetWriteProtected(true);
    };
    EXPECT_EQ(Run(FormatMode::Quick), FormatResult::Failed);
    EXPECT_EQ(run_.runMessage, "Media is write-protected !\n");
    EXPECT_EQ(run_.record.end, RunEnd::WriteProtected);
    EXPECT_EQ(Disk().CommandCount(0xF2), 1000u);  // 999 erased, the 1000th refused
    EXPECT_EQ(Disk().CommandCount(0xF1), 0u);     // no block marked for the refusal
    EXPECT_EQ(run_.record.badBlocks, 0u);
    // The old pages were erased with block 2 and could not go back: the record says so.
    EXPECT_EQ(run_.record.cisFate, PageFate::Lost);
}

// Before anything was erased the stick shows its protection: the run sends nothing that writes
// but the refused erase, and the old pages are untouched.
TEST_F(CisPages, AProtectedStickTheProbeMissedReceivesNoAcceptedWrite) {
    OldFormat(64, true);
    Disk().SetWriteProtected(true);
    machine_.bus.ClearTrace();
    EXPECT_EQ(Run(FormatMode::Full), FormatResult::Failed);
    EXPECT_EQ(run_.record.end, RunEnd::WriteProtected);
    for (const sim::TraceEntry& e : machine_.bus.Trace()) {
        const std::uint8_t op = e.cdb[0];
        if (op == 0xF2 || op == 0xE9 || op == 0xC1 || op == 0xF1 || op == 0x2A || op == 0xC4) {
            EXPECT_NE(e.outcome, sim::Outcome::Good) << sim::SimBus::FormatTraceEntry(e);
        }
    }
    EXPECT_EQ(Disk().ReadPage(0, 64), oldCis_);
    EXPECT_EQ(run_.record.cisFate, PageFate::Untouched);
}

// The stick is pulled while the file system is being written: the run must not claim success.
TEST_F(CisPages, VolumeWriteFailureFailsTheRun) {
    // After the last block's pump: its good test and erase, bank select and CIS page write,
    // the closing command, then 20 sectors of the volume.
    run_.onPump = [this](std::uint32_t done) {
        if (done == 2048) machine_.bus.UnplugAfterCommands(5 + 20);
    };
    EXPECT_EQ(Run(FormatMode::Quick), FormatResult::Failed);
    EXPECT_EQ(run_.runMessage, "Fail to write the FAT file system!\n");
    EXPECT_TRUE(Contains(run_.LogText(), "Write FAT volume fail\n"));
    EXPECT_FALSE(Contains(run_.LogText(), "Total bad blocks"));
    EXPECT_EQ(Disk().CommandCount(0x2A), 20u);
}

class CisPagesTwoBanks : public CisPages {
  protected:
    CisPagesTwoBanks() : CisPages({0x75, 0x75}) {}
};

TEST_F(CisPagesTwoBanks, StopInBankOneRestoresIntoBankZero) {
    OldFormat(96, true);
    run_.StopWhenBlocksDone(2048 + 10);
    EXPECT_EQ(Run(FormatMode::Quick), FormatResult::Cancelled);
    EXPECT_EQ(Disk().ReadPage(0, 96), oldCis_);
    EXPECT_EQ(Disk().ReadPage(0, 97), oldVendor_);
    const sim::PageBytes bank1 = Disk().ReadPage(1, 96);
    for (std::uint8_t b : bank1) ASSERT_EQ(b, 0xFF);
    EXPECT_EQ(Disk().SelectedBank(), 0);
}

class FatOnUnit : public CisPages {};

TEST_F(FatOnUnit, WritesThroughTheCommandsWithTheGivenSerial) {
    Disk().SetSectorCount(64000);
    ASSERT_EQ(WriteFatVolumeNoMbr(machine_.unit, 64000, 65), FatVolumeResult::Written);
    EXPECT_EQ(Disk().CommandCount(0x2A), 160u);
    std::uint8_t boot[512];
    ASSERT_TRUE(Disk().ReadSector(0, boot));
    EXPECT_EQ(boot[0x27], 0x3D);
    EXPECT_EQ(boot[0x2A], 0x86);
    EXPECT_EQ(boot[0x1FE], 0x55);
}

TEST_F(FatOnUnit, AUnitAttentionIsRetriedOnce) {
    Disk().SetSectorCount(64000);
    Disk().RaiseUnitAttention();
    ASSERT_EQ(WriteFatVolumeNoMbr(machine_.unit, 64000, 65), FatVolumeResult::Written);
    EXPECT_EQ(Disk().CommandCount(0x2A), 161u);
    EXPECT_EQ(Disk().CommandCount(0x03), 1u);  // the sense was read before the retry
}

TEST_F(FatOnUnit, AWriteThatKeepsFailingIsReported) {
    Disk().SetSectorCount(64000);
    Disk().SetWriteProtected(true);
    EXPECT_EQ(WriteFatVolumeNoMbr(machine_.unit, 64000, 65), FatVolumeResult::WriteFailed);
    EXPECT_EQ(Disk().CommandCount(0x2A), 2u);  // one attempt and one retry, then it stops
}

TEST_F(FatOnUnit, WritesPastTheDiskEndFail) {
    Disk().SetSectorCount(100);  // smaller than the FAT area of a 64,000-sector volume
    EXPECT_EQ(WriteFatVolumeNoMbr(machine_.unit, 64000, 65), FatVolumeResult::WriteFailed);
}

}  // namespace

namespace {

// A command that never completes (the transport gives up on it) in the middle of the steps
// whose outcome is not otherwise consulted.
class UnansweredReads : public CisPages {};

TEST_F(UnansweredReads, DeviceCodeReadThatFailsIsAnInvalidCode) {
    machine_.bus.HangOnCommand(4);  // test unit ready, bank count, select bank, device code
    EXPECT_EQ(Run(FormatMode::Quick), FormatResult::Failed);
    EXPECT_EQ(run_.runMessage, "Invalid SmartMedia or flash device code!\n");
    EXPECT_TRUE(Contains(run_.LogText(), "Invalid device code at bank 0\n"));
}

TEST_F(UnansweredReads, ACisPageNumberReadThatFailsOnceIsAskedAgain) {
    OldFormat(64, true);
    machine_.bus.HangOnCommand(5);  // ... then the CIS page number
    run_.StopWhenBlocksDone(10);
    EXPECT_EQ(Run(FormatMode::Quick), FormatResult::Cancelled);
    EXPECT_TRUE(Contains(run_.LogText(), "Old CIS page no = 64\nOld vendor page no = 65\n"))
        << run_.LogText();
    EXPECT_EQ(Disk().ReadPage(0, 64), oldCis_);
    EXPECT_EQ(Disk().ReadPage(0, 65), oldVendor_);
    EXPECT_EQ(run_.record.cisFate, PageFate::Restored);
}

// The old pages that cannot be read are pages that cannot be put back: the run does not start.
TEST(UnansweredOldPages, AnOldPageThatCannotBeReadStopsTheRunBeforeAnythingIsErased) {
    struct Case {
        std::uint32_t firstHang;  // command number of the read that never answers
        const char* message;
        const char* logLine;
    };
    // test unit ready, bank count, select bank, device code, C3h, select bank 0, E8h of the
    // old CIS page, E8h of the vendor page. From there on nothing answers.
    const Case cases[] = {
        {5, "Fail to read the CIS page number! Nothing was erased.\n",
         "Read CIS page number fail\n"},
        {7, "Fail to read the old CIS page! Nothing was erased.\n", "Read old CIS page fail\n"},
        {8, "Fail to read the old vendor page! Nothing was erased.\n",
         "Read old vendor page fail\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        SimFlashDiskMachine machine({0x75});
        sim::WriteCisPage(*machine.disk, 64, 60000);
        sim::WriteVendorPage(*machine.disk, 65, "vendor data 1234");
        // The read, the sense asked after it and its second asking all go unanswered.
        machine.bus.HangFromCommand(c.firstHang);
        FakeRun run;
        EXPECT_EQ(RunPhysicalFormat(run, machine.unit, FormatMode::Quick), FormatResult::Failed);
        EXPECT_EQ(run.runMessage, c.message);
        EXPECT_TRUE(Contains(run.LogText(), c.logLine)) << run.LogText();
        EXPECT_EQ(machine.disk->CommandCount(0xF2), 0u);
        EXPECT_EQ(machine.disk->CommandCount(0xE9), 0u);
        EXPECT_TRUE(run.kept.empty());
    }
}

TEST_F(UnansweredReads, WriteProbeFailingForAnotherReasonIsNotProtection) {
    Disk().SetWriteProtected(true);
    // Test unit ready, CIS page number, select bank, device code, read block 1, write it back.
    machine_.bus.HangOnCommand(6);
    EXPECT_FALSE(IsWriteProtected(machine_.unit));
    EXPECT_TRUE(IsWriteProtected(machine_.unit));  // the same probe answered by the disk
}

}  // namespace
