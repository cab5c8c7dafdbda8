// One command that fails or goes unanswered, at the steps where the engine and the write-protect
// probe used not to look: the bank switches, the closing command, the new CIS page's write, a
// lock-up at the very start or in the last blocks, a lock-up in the probe's search. Each case
// names the command by its place in a clean run of the same stick.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

#include "format/block_probes.h"
#include "format/physical_format.h"
#include "reader/port_command.h"
#include "sim/machine/factory_image.h"
#include "tests/engine_test_support.h"

namespace {

using namespace format_test;

constexpr std::uint8_t kPart = 0x6E;  // 256 blocks of 16 pages
constexpr std::uint32_t kBlocks = 256;
constexpr std::uint32_t kOldCisPage = 2 * 16;  // block 2
constexpr std::uint32_t kOldVendorPage = kOldCisPage + 1;

// An old format on the stick: its CIS and vendor pages in block 2, block 9 factory-bad, block 50
// of every bank holding data.
void OldFormat(sim::SimFlashDisk& disk) {
    disk.SetFactoryBad(0, 9);
    for (std::size_t bank = 0; bank < disk.BankCount(); ++bank) sim::WriteDataBlock(disk, bank, 50);
    sim::WriteCisPage(disk, kOldCisPage, 3000);
    sim::WriteVendorPage(disk, kOldVendorPage, "vendor data");
    disk.SetSectorCount(3000);
}

bool Erased(const sim::PageBytes& page) {
    for (std::uint8_t b : page) {
        if (b != 0xFF) return false;
    }
    return true;
}

class LinkFaults : public ::testing::Test {
  protected:
    explicit LinkFaults(std::size_t banks = 1) : banks_(banks) {}

    // The stick under test. Built after the command numbers are known: one simulated machine
    // at a time holds the transport.
    void Build() {
        machine_ =
            std::make_unique<SimFlashDiskMachine>(std::initializer_list<std::uint8_t>{kPart});
        ASSERT_TRUE(machine_->Ready());
        for (std::size_t bank = 1; bank < banks_; ++bank) Disk().AddBank(kPart);
        OldFormat(Disk());
        oldCis_ = Disk().ReadPage(0, kOldCisPage);
        oldVendor_ = Disk().ReadPage(0, kOldVendorPage);
    }

    sim::SimFlashDisk& Disk() { return *machine_->disk; }
    sim::SimBus& Bus() { return machine_->bus; }

    // The number (from 1) of the n-th command that matches in a run of a twin of this stick,
    // clean but for Stop after `stopAt` blocks (0: none); 0 when there is none.
    std::uint32_t CommandNumber(const std::function<bool(const sim::TraceEntry&)>& matches,
                                unsigned occurrence = 1, std::uint32_t stopAt = 0) {
        SimFlashDiskMachine twin({kPart});
        for (std::size_t bank = 1; bank < banks_; ++bank) twin.disk->AddBank(kPart);
        OldFormat(*twin.disk);
        twin.bus.ClearTrace();
        FakeRun run;
        run.StopWhenBlocksDone(stopAt);
        RunPhysicalFormat(run, twin.unit, FormatMode::Quick);
        EXPECT_EQ(run.record.end, stopAt == 0 ? RunEnd::Complete : RunEnd::Stopped);
        const std::vector<sim::TraceEntry>& trace = twin.bus.Trace();
        if (occurrence == 0) return static_cast<std::uint32_t>(trace.size());  // the last one
        for (std::uint32_t i = 0; i < trace.size(); ++i) {
            if (matches(trace[i]) && --occurrence == 0) return i + 1;
        }
        return 0;
    }
    static std::function<bool(const sim::TraceEntry&)> Opcode(std::uint8_t op) {
        return [op](const sim::TraceEntry& e) { return e.cdb[0] == op; };
    }
    static std::function<bool(const sim::TraceEntry&)> SelectOf(std::uint8_t bank) {
        return [bank](const sim::TraceEntry& e) { return e.cdb[0] == 0xFB && e.cdb[1] == bank; };
    }
    // The command fails, and so does its second asking after the sense (two commands later).
    // The machine's link fails the first; the stick's own link, inside it, sees neither that
    // command nor the sense the machine's link answers, so the second asking is its n-th.
    void FailTwice(std::uint32_t n) {
        Bus().FailOnCommand(n);
        Bus().ReaderLink(0).FailOnCommand(n);
    }
    FormatResult Run(FormatMode mode = FormatMode::Quick) {
        Bus().ClearTrace();
        return RunPhysicalFormat(run_, machine_->unit, mode);
    }
    bool OldPagesBack() {
        return Disk().ReadPage(0, kOldCisPage) == oldCis_ &&
               Disk().ReadPage(0, kOldVendorPage) == oldVendor_;
    }

    std::size_t banks_;
    std::unique_ptr<SimFlashDiskMachine> machine_;
    FakeRun run_;
    sim::PageBytes oldCis_{};
    sim::PageBytes oldVendor_{};
};

class LinkFaultsTwoBanks : public LinkFaults {
  protected:
    LinkFaultsTwoBanks() : LinkFaults(2) {}
};

// --- The closing command -------------------------------------------------------------------

TEST_F(LinkFaults, AClosingCommandThatFailsOnceIsAskedAgainAfterItsSense) {
    const std::uint32_t c4 = CommandNumber(Opcode(0xC4));
    ASSERT_NE(c4, 0u);
    Build();
    Bus().FailOnCommand(c4);
    ASSERT_EQ(Run(), FormatResult::CompleteReplug);
    const auto& trace = Bus().Trace();
    ASSERT_GT(trace.size(), c4 + 1);
    EXPECT_EQ(trace[c4 - 1].outcome, sim::Outcome::CheckCondition);
    EXPECT_EQ(trace[c4].cdb[0], 0x03);      // its sense
    EXPECT_EQ(trace[c4 + 1].cdb[0], 0xC4);  // and the second asking
    EXPECT_EQ(Disk().SectorCount(), run_.record.totals[0]);
    EXPECT_EQ(run_.record.volumeSectors, Disk().SectorCount());
}

// Without it the controller goes by its old tables: a volume written then would claim a size
// the stick does not have.
TEST_F(LinkFaults, AClosingCommandThatKeepsFailingFailsTheRunBeforeAnyVolume) {
    const std::uint32_t c4 = CommandNumber(Opcode(0xC4));
    ASSERT_NE(c4, 0u);
    Build();
    FailTwice(c4);
    EXPECT_EQ(Run(), FormatResult::Failed);
    EXPECT_EQ(run_.runMessage, "Fail to load the new CIS page!\n");
    EXPECT_TRUE(Contains(run_.LogText(), "CIS page = 0\nLoad CIS page fail\n")) << run_.LogText();
    EXPECT_EQ(Disk().CommandCount(0x2A), 0u);
    EXPECT_EQ(run_.record.end, RunEnd::Failed);
    EXPECT_EQ(run_.record.cisPage, 0);  // the new CIS page stands: the old ones are replaced
    EXPECT_EQ(run_.record.volumeSectors, 0u);
}

// --- The new CIS page -----------------------------------------------------------------------

TEST_F(LinkFaults, ANewCisPageThatCannotBeWrittenPutsTheOldPagesBack) {
    Build();
    Disk().SetProgramFailsAfter(0, 0, 0);  // block 0 erases, but takes no program
    EXPECT_EQ(Run(), FormatResult::Failed);
    EXPECT_EQ(run_.runMessage, "Write CIS page fail !\n");
    EXPECT_TRUE(Contains(run_.LogText(), "Write CIS fail\nSave old CIS/Vendor page if exist\n"))
        << run_.LogText();
    EXPECT_TRUE(OldPagesBack());
    EXPECT_EQ(Disk().CisPageNumber(), kOldCisPage);
    EXPECT_EQ(run_.record.cisFate, PageFate::Restored);
    EXPECT_EQ(run_.record.vendorFate, PageFate::Restored);
    EXPECT_EQ(Disk().CommandCount(0xC4) + Disk().CommandCount(0x2A), 0u);
}

// --- Bank switches --------------------------------------------------------------------------

TEST_F(LinkFaultsTwoBanks, ASwitchToBankOneThatFailsOnceIsAskedAgain) {
    // Bank 1 is selected for its device code before the scan, then for its scan.
    const std::uint32_t select = CommandNumber(SelectOf(1), 2);
    ASSERT_NE(select, 0u);
    Build();
    Bus().FailOnCommand(select);
    ASSERT_EQ(Run(), FormatResult::CompleteReplug);
    EXPECT_EQ(Disk().EraseCount(1, 50), 1u);
    EXPECT_EQ(Disk().EraseCount(0, 50), 1u);
}

// Every command of the bank's scan would go to bank 0: bank 1 would keep its old data under a
// new format that counts it free.
TEST_F(LinkFaultsTwoBanks, ASwitchToBankOneThatKeepsFailingEndsTheRunBeforeItsBlocks) {
    const std::uint32_t select = CommandNumber(SelectOf(1), 2);
    ASSERT_NE(select, 0u);
    Build();
    FailTwice(select);
    EXPECT_EQ(Run(), FormatResult::Failed);
    EXPECT_EQ(run_.runMessage, "Fail to select a flash bank!\n");
    EXPECT_TRUE(Contains(run_.LogText(), "Bank No = 1\nSelect bank 1 fail\n")) << run_.LogText();
    EXPECT_EQ(run_.record.end, RunEnd::Failed);
    EXPECT_FALSE(run_.record.banks[1].scanned);
    for (std::uint32_t block = 0; block < kBlocks; ++block) {
        ASSERT_EQ(Disk().EraseCount(1, block), 0u) << block;
        ASSERT_EQ(Disk().EraseCount(0, block), block == 9 ? 0u : 1u) << block;
    }
    EXPECT_TRUE(OldPagesBack());
    EXPECT_EQ(run_.record.cisFate, PageFate::Restored);
    EXPECT_EQ(Disk().CommandCount(0xC4), 0u);
}

TEST_F(LinkFaultsTwoBanks, ASwitchToBankZeroForTheOldPagesThatKeepsFailingErasesNothing) {
    // Bank 0 for its device code, then for the old pages.
    const std::uint32_t select = CommandNumber(SelectOf(0), 2);
    ASSERT_NE(select, 0u);
    Build();
    FailTwice(select);
    EXPECT_EQ(Run(), FormatResult::Failed);
    EXPECT_EQ(run_.runMessage, "Fail to select a flash bank! Nothing was erased.\n");
    EXPECT_EQ(Disk().CommandCount(0xF2) + Disk().CommandCount(0xE9), 0u);
    EXPECT_EQ(Disk().CommandCount(0xE8), 0u);  // no page read from the wrong bank
    EXPECT_TRUE(run_.kept.empty());
}

// Written back into bank 1 and read back from there, the pages would pass for restored.
TEST_F(LinkFaultsTwoBanks,
       ASwitchBackToBankZeroForTheWriteBackThatKeepsFailingLosesThePagesAndSaysSo) {
    constexpr std::uint32_t kStopAt = kBlocks + 10;  // block 10 of bank 1
    const std::uint32_t stopped = CommandNumber(Opcode(0), 0, kStopAt);
    Build();
    run_.StopWhenBlocksDone(kStopAt);
    // The write-back: bank 0's select, then each page's write and its read-back.
    FailTwice(stopped - 4);
    EXPECT_EQ(Run(), FormatResult::Failed);
    EXPECT_EQ(run_.runMessage, "Fail to write back the old CIS page!\n");
    EXPECT_EQ(run_.record.cisFate, PageFate::Lost);
    EXPECT_EQ(run_.record.vendorFate, PageFate::Lost);
    EXPECT_EQ(Disk().CommandCount(0xE9), 0u);
    EXPECT_TRUE(Erased(Disk().ReadPage(1, kOldCisPage)));  // bank 1's block 2 was erased
}

TEST_F(LinkFaultsTwoBanks, ASwitchBackToBankZeroForTheVendorPageThatKeepsFailingIsNoMove) {
    // After the scan: bank 0 for the vendor page's move, then for the new CIS page.
    const std::uint32_t select = CommandNumber(SelectOf(0), 4);
    ASSERT_NE(select, 0u);
    Build();
    FailTwice(select);
    ASSERT_EQ(Run(), FormatResult::CompleteReplug);
    EXPECT_EQ(run_.record.vendorFate, PageFate::Lost);
    EXPECT_EQ(Disk().CommandCount(0xE9), 1u);  // the new CIS page only
    EXPECT_EQ(Disk().CisPageNumber(), 0u);
}

// --- A stick that locks up ------------------------------------------------------------------

TEST_F(LinkFaults, AStickThatLocksUpAtTheStartEndsUnresponsiveAfterEightUnansweredCommands) {
    Build();
    // The count runs on from the commands before the run: discovery's questions to LUNs that
    // are not there went unanswered too.
    const std::uint32_t silentBefore = ConsecutiveSilentCommands();
    ASSERT_LT(silentBefore, 3u);
    Bus().HangFromCommand(1);
    EXPECT_EQ(Run(), FormatResult::Failed);
    EXPECT_EQ(run_.record.end, RunEnd::Unresponsive);
    EXPECT_EQ(run_.runMessage, "The disk does not answer any more!\n");
    // TEST UNIT READY, its sense, then TEST UNIT READY until eight went unanswered.
    const auto& trace = Bus().Trace();
    ASSERT_EQ(trace.size(), 8u - silentBefore);
    for (std::size_t i = 0; i < trace.size(); ++i) {
        EXPECT_EQ(trace[i].outcome, sim::Outcome::Hung) << i;
        EXPECT_EQ(trace[i].cdb[0], i == 1 ? 0x03 : 0x00) << i;
    }
    EXPECT_EQ(run_.record.cisFate, PageFate::None);  // no page was known yet
}

TEST_F(LinkFaults, AStickThatLocksUpInTheLastBlocksIsGivenNoNewFormat) {
    // The last block's good test never answers, nor anything after it.
    const std::uint32_t lastRead = CommandNumber(Opcode(0xE8), 2 + kBlocks);
    ASSERT_NE(lastRead, 0u);
    Build();
    Bus().HangFromCommand(lastRead);
    EXPECT_EQ(Run(), FormatResult::Failed);
    EXPECT_EQ(run_.record.end, RunEnd::Unresponsive);
    EXPECT_EQ(run_.runMessage, "The disk does not answer any more!\n");
    EXPECT_EQ(Disk().CommandCount(0xC4) + Disk().CommandCount(0x2A), 0u);
    EXPECT_EQ(Disk().CisPageNumber(), sim::kNoPage);
    // The last block is not counted bad for its silence; block 9 is.
    EXPECT_EQ(run_.record.badBlocks, 1u);
    ASSERT_EQ(run_.record.banks[0].bad.size(), 1u);
    EXPECT_EQ(run_.record.banks[0].bad[0].block, 9u);
    EXPECT_EQ(run_.record.cisFate, PageFate::Lost);
}

}  // namespace

namespace {

// --- The write-protect probe ------------------------------------------------------------------

// Without a CIS page the probe looks for an unmarked block from block 1 on: a stick that has
// locked up would have it wait out a time-out for every block of the bank.
TEST(WriteProtectProbe, AStickThatLocksUpEndsTheSearchAfterThreeUnansweredReads) {
    SimFlashDiskMachine machine({0x75});  // 2048 blocks, no CIS page
    ASSERT_TRUE(machine.Ready());
    machine.disk->SetWriteProtected(true);
    machine.bus.ClearTrace();
    // TEST UNIT READY, C3h, FBh, F7h; from block 1's read on nothing answers.
    machine.bus.HangFromCommand(5);
    EXPECT_FALSE(IsWriteProtected(machine.unit));
    const std::vector<std::uint8_t> expected = {0x00, 0xC3, 0xFB, 0xF7, 0xE8, 0xE8, 0xE8};
    std::vector<std::uint8_t> sent;
    for (const sim::TraceEntry& e : machine.bus.Trace()) sent.push_back(e.cdb[0]);
    EXPECT_EQ(sent, expected);
}

TEST(WriteProtectProbe, OneUnansweredReadOnlyMovesTheSearchOn) {
    SimFlashDiskMachine machine({0x75});
    ASSERT_TRUE(machine.Ready());
    machine.disk->SetWriteProtected(true);
    machine.bus.ClearTrace();
    machine.bus.HangOnCommand(5);  // block 1's read
    EXPECT_TRUE(IsWriteProtected(machine.unit));
    // Block 2 answers and its write-back is refused as protected.
    ASSERT_GE(machine.bus.Trace().size(), 7u);
    EXPECT_EQ(PageOfCommand(machine.bus.Trace()[5].cdb), 2u * 32u);
    EXPECT_EQ(machine.bus.Trace()[6].cdb[0], 0xE9);
}

}  // namespace
