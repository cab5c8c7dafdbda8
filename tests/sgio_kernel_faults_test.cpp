// A format through the SG_IO port over a stand-in for the Linux kernel that does what the real
// one does to a run: signals that break the waits off, a pull whose commands first end with
// DID_ERROR, host errors on a stick that is still there, a reset after a time-out, a transfer
// limit below the reader's commands, sense cut short. The stick is judged by what it received.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "format/physical_format.h"
#include "reader/linux/sgio_port.h"
#include "reader/reader.h"
#include "reader/reader_unit.h"
#include "reader/sense.h"
#include "reader/units.h"
#include "sim/sim_bus.h"
#include "sim/sim_device.h"
#include "sim/sim_flash_disk.h"
#include "tests/fake_run.h"
#include "tests/sim_kernel.h"

namespace {

// 256 blocks of 16 pages, an old CIS page and its vendor page, block 5 bad from the factory.
constexpr const char* kStick =
    "reader\n"
    "unit DS drive=E\n"
    "banks 6E\n"
    "cis page=0\n"
    "vendor-page\n"
    "bad 0:5\n";

class KernelFaults : public ::testing::Test {
  protected:
    void TearDown() override { Stop(); }

    // maxTransfer: the kernel's transfer limit, which the port learns as it opens the node.
    void Start(const std::string& description, std::uint32_t maxTransfer = 0) {
        Stop();
        std::string error;
        bus_ = sim::SimBus::Parse(description, &error);
        ASSERT_TRUE(bus_) << error;
        bus_->SetTraceEnabled(true);
        kernel_ = std::make_unique<SimKernel>(*bus_);
        kernel_->SetMaxTransfer(maxTransfer);
        // No sysfs: the port cannot tell whether a stick is there; the kernel's answers must.
        port_ = std::make_unique<SgioPort>(*kernel_, kernel_->Nodes(), "/nonexistent");
        reader_ = std::make_unique<Reader>(*port_);
        ASSERT_EQ(reader_->OpenTransport(), 1);
        std::uint8_t count = 0;
        MediaType keys[3] = {kMediaNone, kMediaNone, kMediaNone};
        reader_->DiscoverUnits(&count, keys);
        ASSERT_EQ(count, 1);
        ASSERT_EQ(keys[0], kMediaUsbDisk);
        bus_->ClearTrace();
        executedBefore_ = kernel_->Executed();
        run_ = std::make_unique<FakeRun>();
    }
    void Stop() {
        reader_.reset();
        port_.reset();
        kernel_.reset();
        bus_.reset();
    }
    FormatResult Format(FormatMode mode = FormatMode::Quick) {
        sent_ = Sent();
        return RunPhysicalFormat(*run_, *reader_, kMediaUsbDisk, mode);
    }
    sim::SimFlashDisk& Disk() { return *bus_->FlashDisk(0); }
    // Commands the reader handed to the port so far.
    std::uint64_t Sent() const { return reader_->Commands().CommandsSent(); }
    ReaderUnit Stick() { return ReaderUnit(*reader_, kMediaUsbDisk); }
    // The blocks the run counted bad, bank by bank.
    std::vector<std::uint32_t> BadBlocks(std::size_t bank = 0) const {
        std::vector<std::uint32_t> blocks;
        if (bank >= run_->record.banks.size()) return blocks;
        for (const BadBlock& bad : run_->record.banks[bank].bad) blocks.push_back(bad.block);
        return blocks;
    }
    std::size_t TraceCount(std::uint8_t opcode) const {
        const auto& trace = bus_->Trace();
        return static_cast<std::size_t>(std::count_if(
            trace.begin(), trace.end(), [opcode](const auto& e) { return e.cdb[0] == opcode; }));
    }

    std::unique_ptr<sim::SimBus> bus_;
    std::unique_ptr<SimKernel> kernel_;
    std::unique_ptr<SgioPort> port_;
    std::unique_ptr<Reader> reader_;
    std::unique_ptr<FakeRun> run_;
    std::uint64_t sent_ = 0;
    std::uint64_t executedBefore_ = 0;  // commands of the discovery
};

// ---- Signals ------------------------------------------------------------------------------

TEST_F(KernelFaults, EveryCommandReachesTheStickOnceHoweverOftenSignalsBreakTheWaitsOff) {
    Start(kStick);
    kernel_->InterruptEveryWait(2);
    ASSERT_EQ(Format(), FormatResult::CompleteReplug) << run_->runMessage;
    const std::uint64_t sent = Sent() - sent_;
    EXPECT_EQ(kernel_->Executed() - executedBefore_, sent);
    EXPECT_EQ(bus_->Trace().size(), sent);
    EXPECT_EQ(kernel_->Interruptions(), 2 * sent);
    EXPECT_EQ(TraceCount(0xC4), 1u);
    EXPECT_EQ(BadBlocks(), std::vector<std::uint32_t>{5});
}

// ---- Pulls ---------------------------------------------------------------------------------

// A pulled stick's commands end with DID_ERROR for a while before the node goes: at whatever
// point the pull comes, the run ends as removed and counts no block bad that the stick does not
// hold as bad.
TEST_F(KernelFaults, APullWhoseCommandsFirstEndWithHostErrorsCountsNoBlockBad) {
    for (std::uint32_t pullAfter : {3u, 9u, 40u, 151u, 300u, 511u, 530u, 541u}) {
        Start(std::string(kStick) + "unplug-after " + std::to_string(pullAfter) + "\n");
        kernel_->HostErrorsAfterPull(18);
        const FormatResult result = Format();
        EXPECT_NE(result, FormatResult::CompleteReplug) << pullAfter;
        EXPECT_EQ(run_->record.end, RunEnd::Removed) << pullAfter << ": " << run_->runMessage;
        for (std::uint32_t block : BadBlocks()) EXPECT_EQ(block, 5u) << pullAfter;
        EXPECT_LE(run_->record.badBlocks, 1u) << pullAfter;
    }
}

// The erase of the old CIS page's block reaches the stick, its answer is lost to the pull: the
// block may be erased, and the record must not say the old pages were left untouched.
TEST_F(KernelFaults, AnEraseWhoseAnswerAPullTookIsNotTakenForNothingDone) {
    Start(kStick);
    ASSERT_EQ(Format(), FormatResult::CompleteReplug) << run_->runMessage;
    const auto& clean = bus_->Trace();
    const auto firstErase =
        std::find_if(clean.begin(), clean.end(), [](const auto& e) { return e.cdb[0] == 0xF2; });
    ASSERT_NE(firstErase, clean.end());
    const auto at = static_cast<std::uint32_t>(firstErase - clean.begin());

    Start(std::string(kStick) + "unplug-after " + std::to_string(executedBefore_ + at + 1) + "\n");
    kernel_->HostErrorOnCommand(at + 1, kSgHostError, true);
    Format();
    EXPECT_EQ(run_->record.end, RunEnd::Removed) << run_->runMessage;
    // The last command the stick carried out was the erase; the rest met no device.
    const auto& trace = bus_->Trace();
    const auto lastTaken = std::find_if(trace.rbegin(), trace.rend(), [](const auto& e) {
        return e.outcome != sim::Outcome::NoDevice;
    });
    ASSERT_NE(lastTaken, trace.rend());
    EXPECT_EQ(lastTaken->cdb[0], 0xF2);
    EXPECT_NE(run_->record.cisFate, PageFate::Untouched);
    EXPECT_EQ(Disk().CisPageNumber(), sim::kNoPage);  // it did erase the old page's block
}

// ---- Host errors on a stick that is still there ----------------------------------------------

TEST_F(KernelFaults, AHostErrorOnAStickThatIsStillThereMakesNoBadBlock) {
    struct Case {
        std::uint16_t host;
        bool reached;
    };
    for (const Case c : {Case{kSgHostError, true}, Case{kSgHostError, false},
                         Case{kSgHostSoftError, true}, Case{kSgHostReset, false}}) {
        for (std::uint32_t at : {60u, 61u}) {  // an erase, and a read, in the scan
            Start(kStick);
            kernel_->HostErrorOnCommand(at, c.host, c.reached);
            ASSERT_EQ(Format(), FormatResult::CompleteReplug)
                << c.host << " at " << at << ": " << run_->runMessage;
            EXPECT_EQ(BadBlocks(), std::vector<std::uint32_t>{5}) << c.host << " at " << at;
            EXPECT_EQ(run_->record.end, RunEnd::Complete);
            // The stick was asked whether it is there, then its bank was selected again.
            const auto& trace = bus_->Trace();
            const auto tur = std::find_if(trace.begin() + 40, trace.end(),
                                          [](const auto& e) { return e.cdb[0] == 0x00; });
            ASSERT_NE(tur, trace.end());
            ASSERT_NE(tur + 1, trace.end());
            EXPECT_EQ((tur + 1)->cdb[0], 0xFB);
        }
    }
}

TEST_F(KernelFaults, HostErrorsThatDoNotEndAreALinkThatCannotCarryAFormat) {
    Start(kStick);
    // From the 80th command on every command ends so, while the stick stays.
    kernel_->HostErrorsFrom(80);
    EXPECT_EQ(Format(), FormatResult::Failed);
    EXPECT_EQ(run_->record.end, RunEnd::Unresponsive) << run_->runMessage;
    EXPECT_EQ(BadBlocks(), std::vector<std::uint32_t>{5});
}

// ---- A reset after a time-out ---------------------------------------------------------------

// usb-storage resets a stick whose command timed out; the stick then answers UNIT ATTENTION 29h
// and is back on bank 0. What the timed-out command did is not known: the stick is asked whether
// it answers again (it reports the reset, and is asked again after the bank the run was on), and
// the block is looked at anew. Nothing of bank 0 is touched while the run is in bank 1, and no
// block is counted bad for the time-out.
TEST_F(KernelFaults, AResetAfterATimeOutIsNoNewMediumAndTheBlockIsLookedAtAnew) {
    Start(
        "reader\n"
        "unit DS drive=E\n"
        "banks 6E 6E\n"
        "cis page=0\n"
        "bad 0:5 1:5\n"
        "hang-on 800\n");
    kernel_->ResetAfterTimeOut(true);
    ASSERT_EQ(Format(), FormatResult::CompleteReplug) << run_->runMessage;
    // The kernel's own REQUEST SENSE after a failed command aside.
    std::vector<sim::TraceEntry> trace;
    for (const auto& entry : bus_->Trace()) {
        if (entry.cdb[0] != 0x03) trace.push_back(entry);
    }
    const auto hung = std::find_if(trace.begin(), trace.end(),
                                   [](const auto& e) { return e.outcome == sim::Outcome::Hung; });
    ASSERT_NE(hung, trace.end());
    ASSERT_GE(trace.end() - hung, 6);
    // Asked whether it answers: it reports the reset; its bank again, then the question again.
    EXPECT_EQ((hung + 1)->cdb[0], 0x00);
    EXPECT_EQ((hung + 1)->outcome, sim::Outcome::CheckCondition);
    EXPECT_EQ((hung + 2)->cdb[0], 0xFB);
    EXPECT_EQ((hung + 2)->cdb[1], 1);
    EXPECT_EQ((hung + 3)->cdb[0], 0x00);
    EXPECT_EQ((hung + 3)->outcome, sim::Outcome::Good);
    // The block anew, on its bank.
    EXPECT_EQ((hung + 4)->cdb[0], 0xFB);
    EXPECT_EQ((hung + 4)->cdb[1], 1);
    EXPECT_TRUE(std::any_of(hung + 5, trace.end(), [&hung](const sim::TraceEntry& e) {
        return std::equal(std::begin(e.cdb), std::end(e.cdb), std::begin(hung->cdb));
    }));
    EXPECT_GT(reader_->Commands().ResetNoticeCount(), 0u);
    for (std::uint32_t block = 0; block < 256; ++block) {
        EXPECT_EQ(Disk().IsMarkedBad(0, block), block == 5) << block;
    }
    EXPECT_EQ(BadBlocks(0), std::vector<std::uint32_t>{5});
    EXPECT_EQ(BadBlocks(1), std::vector<std::uint32_t>{5});
}

// A block whose command times out each time it is sent, the stick answering in between: after
// it has been looked at anew twice the time-out is the block's own failure, and the run goes on.
TEST_F(KernelFaults, ATimeOutThatComesBackAfterEveryResetIsTheBlocksOwnFailure) {
    Start(kStick);
    kernel_->ResetAfterTimeOut(true);
    // The erase of block 100 (16 pages a block: page 1600, 640h).
    const auto eraseOf100 = [](const std::uint8_t* cdb) {
        return cdb[0] == 0xF2 && cdb[2] == 0x40 && cdb[3] == 0x06;
    };
    kernel_->TimeOutWhen(eraseOf100);
    ASSERT_EQ(Format(), FormatResult::CompleteReplug) << run_->runMessage;
    EXPECT_EQ(run_->record.end, RunEnd::Complete);
    EXPECT_EQ(BadBlocks(), (std::vector<std::uint32_t>{5, 100}));
    // Looked at three times (its read, then its erase): once, then twice more after the stick
    // answered again. The three erases are the only commands that did not reach the stick.
    const auto& trace = bus_->Trace();
    EXPECT_EQ(std::count_if(trace.begin(), trace.end(),
                            [](const auto& e) {
                                return e.cdb[0] == 0xE8 && e.cdb[2] == 0x40 && e.cdb[3] == 0x06;
                            }),
              3);
    EXPECT_EQ(Sent() - sent_ - (kernel_->Executed() - executedBefore_), 3u);
}

// ---- Transfers ------------------------------------------------------------------------------

TEST_F(KernelFaults, TransfersAreSplitToTheKernelsLimit) {
    Start(kStick, 4096);  // a block's data is 8 KiB
    ASSERT_EQ(Format(FormatMode::Full), FormatResult::CompleteReplug) << run_->runMessage;
    EXPECT_LE(kernel_->LargestTransfer(), 4096u);
    EXPECT_EQ(BadBlocks(), std::vector<std::uint32_t>{5});
    const auto& trace = bus_->Trace();
    const auto read =
        std::find_if(trace.begin(), trace.end(), [](const auto& e) { return e.cdb[0] == 0xFA; });
    ASSERT_NE(read, trace.end());
    ASSERT_NE(read + 1, trace.end());
    // One block's data in two reads of eight pages.
    EXPECT_EQ(read->cdb[5], 8);
    EXPECT_EQ((read + 1)->cdb[0], 0xFA);
    EXPECT_EQ((read + 1)->cdb[2], read->cdb[2] + 8);
}

// ---- Sense cut short ------------------------------------------------------------------------

TEST_F(KernelFaults, AUnitAttentionWhoseCodeWasCutOffIsNoReset) {
    for (const char* length : {"length=0", "length=4", ""}) {
        Start(std::string(kStick) + "fail-on 2 sense=6/29 " + length + "\n");
        const bool full = std::string(length).empty();
        EXPECT_EQ(Stick().TestUnitReady().Good(), full) << length;
        // Reported in full, the reset's command went again; cut short, it is a unit attention.
        EXPECT_EQ(kernel_->Executed() - executedBefore_, full ? 2u : 1u) << length;
        if (!full) {
            EXPECT_EQ(Stick().GetSenseStatus(), SenseUnitAttention);
        }
    }
}

}  // namespace
