// Fault campaigns: the format engine run again and again over a small simulated stick, with one
// fault put at every point a run passes (Stop at every block; a failed or an unanswered command
// at every command; a lock-up or a pull from every command on), each run judged by what must
// hold whatever happened: no false success, nothing lost without a word, no end without bound.
// Each campaign prints how many points it tried and how many broke a rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "format/device_access.h"
#include "format/disk_probe.h"
#include "format/fat_geometry.h"
#include "format/media_decode.h"
#include "format/physical_format.h"
#include "reader/port_command.h"
#include "sim/machine/factory_image.h"
#include "tests/engine_test_support.h"
#include "tests/fat_image_check.h"
#include "tests/temp_dir.h"

namespace {

using namespace format_test;

// Banks of 6Eh: 256 blocks of 16 pages (256-byte pages, 8 spare bytes).
constexpr std::uint8_t kSmallPart = 0x6E;
constexpr std::uint32_t kBlocks = 256;
constexpr std::uint32_t kPagesPerBlock = 16;
// The old format: its CIS page in block 2, the vendor page right after it, a size no fresh
// format of this stick gives (so that a stick left at the old size shows).
constexpr std::uint32_t kOldCisPage = 2 * kPagesPerBlock;
constexpr std::uint32_t kOldVendorPage = kOldCisPage + 1;
constexpr std::uint32_t kOldSectors = 3000;
// Blocks of bank 0 that really are bad: factory-bad, or failing every erase.
constexpr std::uint32_t kFactoryBad = 9;
constexpr std::uint32_t kEraseFails = 20;
// Blocks that hold data of the old format: a block the scan skips keeps it.
constexpr std::uint32_t kDataBlocks[] = {50, 200};

const std::string kUnresponsiveText = "The disk does not answer any more!\n";

const char* ResultName(FormatResult result) {
    switch (result) {
        case FormatResult::Complete:
            return "Complete";
        case FormatResult::Failed:
            return "Failed";
        case FormatResult::Cancelled:
            return "Cancelled";
        case FormatResult::CompleteReplug:
            return "CompleteReplug";
    }
    return "?";
}

const char* EndName(RunEnd end) {
    switch (end) {
        case RunEnd::NotStarted:
            return "NotStarted";
        case RunEnd::Complete:
            return "Complete";
        case RunEnd::Failed:
            return "Failed";
        case RunEnd::Stopped:
            return "Stopped";
        case RunEnd::Aborted:
            return "Aborted";
        case RunEnd::Removed:
            return "Removed";
        case RunEnd::Unresponsive:
            return "Unresponsive";
        case RunEnd::WriteProtected:
            return "WriteProtected";
    }
    return "?";
}

const char* FateName(PageFate fate) {
    switch (fate) {
        case PageFate::None:
            return "None";
        case PageFate::Untouched:
            return "Untouched";
        case PageFate::Restored:
            return "Restored";
        case PageFate::Lost:
            return "Lost";
    }
    return "?";
}

bool ErasedPage(const sim::PageBytes& page) {
    return std::all_of(page.begin(), page.end(), [](std::uint8_t b) { return b == 0xFF; });
}

// A small stick with an old format on it (one or two banks), behind the real transport, and a
// front end for one run. The trace is kept only when asked: the campaigns count commands on
// the link instead.
struct Stick {
    explicit Stick(unsigned banks = 1, bool trace = false) {
        machine.bus.SetTraceEnabled(trace);
        sim::SimFlashDisk& disk = Disk();
        for (unsigned bank = 1; bank < banks; ++bank) disk.AddBank(kSmallPart);
        disk.SetFactoryBad(0, kFactoryBad);
        disk.SetEraseFails(0, kEraseFails);
        for (unsigned bank = 0; bank < banks; ++bank) {
            for (std::uint32_t block : kDataBlocks) sim::WriteDataBlock(disk, bank, block);
        }
        sim::WriteCisPage(disk, kOldCisPage, kOldSectors);
        sim::WriteVendorPage(disk, kOldVendorPage, "vendor data of the old format");
        disk.SetSectorCount(kOldSectors);
        oldCis = disk.ReadPage(0, kOldCisPage);
        oldVendor = disk.ReadPage(0, kOldVendorPage);
    }

    sim::SimFlashDisk& Disk() { return *machine.disk; }
    std::uint64_t Commands() const { return machine.bus.ReaderCommandCount(); }

    FormatResult Run(FormatMode mode) {
        const std::uint64_t before = Commands();
        const FormatResult result = RunPhysicalFormat(run, machine.unit, mode);
        runCommands = Commands() - before;
        return result;
    }

    SimFlashDiskMachine machine{{kSmallPart}};
    FakeRun run;
    sim::PageBytes oldCis{};
    sim::PageBytes oldVendor{};
    std::uint64_t runCommands = 0;  // commands of the run that reached the stick
};

// The first rule a run broke: each check is looked at only while none has failed.
class Verdict {
  public:
    Verdict& Require(bool holds, const std::string& broken) {
        if (broken_.empty() && !holds) broken_ = broken;
        return *this;
    }
    // Takes the first broken rule of a check that names its own.
    Verdict& Require(const std::string& broken) { return Require(broken.empty(), broken); }
    bool Holds() const { return broken_.empty(); }
    const std::string& Broken() const { return broken_; }

  private:
    std::string broken_;
};

// Empty when the stick holds a sound format: a CIS page that decodes, whose totals agree with
// its groups, a logical size equal to its last total, and a FAT boot sector that decodes and
// covers what the volume geometry gives for that size. Otherwise what is wrong.
std::string UnsoundFormat(sim::SimFlashDisk& disk) {
    const std::uint32_t cisPage = disk.CisPageNumber();
    if (cisPage == sim::kNoPage) return "no CIS page";
    DecodedCisPage cis;
    if (!DecodeCisPage(disk.ReadPage(0, cisPage), &cis)) return "the CIS page does not decode";
    std::array<std::uint8_t, kMaxBanks> pagesPerBlock{};
    for (std::size_t bank = 0; bank < disk.BankCount() && bank < kMaxBanks; ++bank) {
        pagesPerBlock[bank] = disk.Geometry(bank).pagesPerBlock;
    }
    if (!cis.TotalsAgree(pagesPerBlock)) return "the CIS page's totals disagree with its groups";
    if (cis.banks != disk.BankCount()) return "the CIS page counts the wrong banks";
    if (disk.SectorCount() != cis.sectors) {
        return "logical size " + std::to_string(disk.SectorCount()) + ", CIS total " +
               std::to_string(cis.sectors);
    }
    std::uint8_t sector[512];
    if (!disk.ReadSector(0, sector)) return "no sector 0";
    DecodedBootSector boot;
    if (!DecodeBootSector(sector, &boot)) return "the boot sector does not decode";
    // The volume ends short of the disk, as the cylinder rounding has it.
    VolumeGeometry geometry;
    if (!ComputeVolumeGeometry(disk.SectorCount(), &geometry)) return "no volume fits the disk";
    if (boot.totalSectors != geometry.volumeSectors || boot.totalSectors > disk.SectorCount()) {
        return "a volume of " + std::to_string(boot.totalSectors) + " sectors on " +
               std::to_string(disk.SectorCount());
    }
    return "";
}

// Empty when every block of every bank was erased by the run, but those counted bad and the new
// CIS block: the old format's data must not survive under a new one.
std::string UnerasedBlock(Stick& stick) {
    const RunRecord& record = stick.run.record;
    for (std::size_t bank = 0; bank < record.banks.size(); ++bank) {
        const std::vector<BadBlock>& bad = record.banks[bank].bad;
        for (std::uint32_t block = 0; block < kBlocks; ++block) {
            const bool counted = std::any_of(bad.begin(), bad.end(),
                                             [&](const BadBlock& b) { return b.block == block; });
            const bool cisBlock =
                bank == 0 && block == static_cast<std::uint32_t>(record.cisPage) / kPagesPerBlock;
            if (counted || cisBlock) continue;
            for (std::uint32_t page : {0u, kPagesPerBlock - 1}) {
                if (!ErasedPage(stick.Disk().ReadPage(bank, block * kPagesPerBlock + page))) {
                    return "block " + std::to_string(block) + " of bank " + std::to_string(bank) +
                           " was not erased";
                }
            }
        }
    }
    return "";
}

// Empty when no old page went missing without the run saying so. A run that wrote its new CIS
// page (complete, or failed on the volume after it) left that page where the reader finds it,
// and moved the vendor page behind it or says so; one that did not either left each old page
// where it was, byte for byte, or says it is lost.
std::string SilentLoss(Stick& stick, FormatResult result) {
    sim::SimFlashDisk& disk = stick.Disk();
    const RunRecord& record = stick.run.record;
    const bool newCisWritten = record.cisPage != -1;
    if (result == FormatResult::CompleteReplug && !newCisWritten) {
        return "complete without a new CIS page";
    }
    if (newCisWritten) {
        const std::uint32_t page = static_cast<std::uint32_t>(record.cisPage);
        if (disk.CisPageNumber() != page) {
            return "the reader does not find the new CIS page " + std::to_string(page);
        }
        DecodedCisPage cis;
        if (!DecodeCisPage(disk.ReadPage(0, page), &cis) || cis.totals != record.totals) {
            return "the new CIS page is not the one the run wrote";
        }
        if (record.vendorFate != PageFate::Lost && disk.ReadPage(0, page + 1) != stick.oldVendor) {
            return std::string("the vendor page did not move behind the new CIS page, fate ") +
                   FateName(record.vendorFate);
        }
        return "";
    }
    if (disk.ReadPage(0, kOldCisPage) != stick.oldCis && record.cisFate != PageFate::Lost) {
        return std::string("the old CIS page is gone, fate ") + FateName(record.cisFate);
    }
    if (disk.ReadPage(0, kOldVendorPage) != stick.oldVendor &&
        record.vendorFate != PageFate::Lost) {
        return std::string("the old vendor page is gone, fate ") + FateName(record.vendorFate);
    }
    // A page lost on a stick that is there fails the run: it must not look merely cancelled.
    if (record.cisFate == PageFate::Lost && result != FormatResult::Failed &&
        record.end != RunEnd::Removed) {
        return std::string("the old CIS page is lost on a run that is only ") + ResultName(result);
    }
    return "";
}

// What every run must keep to, whatever the fault: empty, or the broken rule.
std::string BrokenRule(Stick& stick, FormatResult result) {
    const RunRecord& record = stick.run.record;
    const bool complete = result == FormatResult::CompleteReplug;
    Verdict verdict;
    verdict
        .Require(result == FormatResult::Failed || result == FormatResult::Cancelled || complete,
                 std::string("result ") + ResultName(result))
        .Require(stick.run.records == 1,
                 "the run handed over " + std::to_string(stick.run.records) + " records")
        .Require(complete == (record.end == RunEnd::Complete),
                 std::string("result ") + ResultName(result) + ", end " + EndName(record.end));
    if (complete) {
        verdict.Require(UnsoundFormat(stick.Disk()))
            .Require(record.volumeSectors == stick.Disk().SectorCount(), "the record's volume size")
            .Require(UnerasedBlock(stick));
    }
    return verdict.Require(SilentLoss(stick, result)).Broken();
}

// Empty when every block the run counts bad really is bad (factory-bad, or failing its erase),
// for the reason it is, and the count is the list's.
std::string FalselyBad(const RunRecord& record) {
    std::uint32_t listed = 0;
    for (std::size_t bank = 0; bank < record.banks.size(); ++bank) {
        for (const BadBlock& bad : record.banks[bank].bad) {
            const bool real =
                bank == 0 && ((bad.block == kFactoryBad && bad.reason == BadReason::Marked) ||
                              (bad.block == kEraseFails && bad.reason == BadReason::Erase));
            if (!real) {
                return "block " + std::to_string(bad.block) + " of bank " + std::to_string(bank) +
                       " counted bad";
            }
            ++listed;
        }
    }
    if (listed != record.badBlocks) return "the bad-block count is not the list's";
    return "";
}

// Counts a campaign's points and reports the first few broken rules; prints its figures.
class Campaign {
  public:
    explicit Campaign(std::string name) : name_(std::move(name)) {}
    ~Campaign() {
        std::printf("fault campaign: %s: %u points, %u failures\n", name_.c_str(), points_,
                    failures_);
        std::fflush(stdout);
    }
    Campaign(const Campaign&) = delete;
    Campaign& operator=(const Campaign&) = delete;

    void Judge(const std::string& point, const std::string& broken) {
        ++points_;
        if (broken.empty()) return;
        ++failures_;
        if (failures_ <= 10) ADD_FAILURE() << name_ << ", " << point << ": " << broken;
    }
    unsigned Failures() const { return failures_; }
    unsigned Points() const { return points_; }

  private:
    std::string name_;
    unsigned points_ = 0;
    unsigned failures_ = 0;
};

// fsck.fat's view of the stick's volume: empty when it finds nothing wrong.
std::string FsckComplaint(sim::SimFlashDisk& disk) {
    TempDir dir;
    const std::string image = dir.Path() + "/stick.img";
    std::string output;
    if (!disk.ExportImage(image, &output)) return output;
    if (!FsckClean(image, &output)) return "fsck.fat: " + output;
    return "";
}

// Where a clean Quick run of the stick goes, by command number (from 1): how many it sends, the
// first of the scan (bank 0's select) and the last (the last block's erase). Its result must be
// sound itself, also to fsck.fat.
struct CleanRun {
    std::uint32_t commands = 0;
    std::uint32_t scanFirst = 0;
    std::uint32_t scanLast = 0;
};

CleanRun CleanQuickRun(unsigned banks) {
    Stick stick(banks, true);
    stick.machine.bus.ClearTrace();
    const FormatResult result = stick.Run(FormatMode::Quick);
    EXPECT_EQ(result, FormatResult::CompleteReplug);
    EXPECT_EQ(BrokenRule(stick, result), "");
    EXPECT_EQ(FalselyBad(stick.run.record), "");
    EXPECT_EQ(FsckComplaint(stick.Disk()), "");

    CleanRun clean;
    const std::vector<sim::TraceEntry>& trace = stick.machine.bus.Trace();
    clean.commands = static_cast<std::uint32_t>(trace.size());
    EXPECT_EQ(clean.commands, stick.runCommands);
    std::uint32_t selects = 0;
    for (std::uint32_t i = 0; i < trace.size(); ++i) {
        const std::uint8_t op = trace[i].cdb[0];
        // Before the scan a bank is selected for each device code and once for the old pages.
        if (op == 0xFB && ++selects == banks + 2) clean.scanFirst = i + 1;
        if (op == 0xF2) clean.scanLast = i + 1;
    }
    // TUR, C2h, FBh and F7h a bank, C3h, FBh and the two old pages.
    EXPECT_EQ(clean.scanFirst, 7 + 2 * banks);
    // Each bank: FBh and F7h, then a read and an erase a block; block 9 of bank 0 is not erased,
    // block 20's failed erase is followed by its sense and its mark.
    EXPECT_EQ(clean.scanLast, clean.scanFirst - 1 + banks * (2 + 2 * kBlocks) - 1 + 2);
    return clean;
}

// ---------------------------------------------------------------------------------------------
// Stop at every block: the old pages are back, byte for byte, and the record says so.

void StopAtEveryBlock(FormatMode mode, const std::function<void(FormatSettings&)>& settings,
                      const std::string& name) {
    Campaign campaign(name);
    for (std::uint32_t stopAt = 1; stopAt <= kBlocks; ++stopAt) {
        Stick stick;
        settings(stick.run.settings);
        stick.run.StopWhenBlocksDone(stopAt);
        const FormatResult result = stick.Run(mode);
        const RunRecord& record = stick.run.record;
        sim::SimFlashDisk& disk = stick.Disk();
        // Nothing is erased before the first block has been through the scan.
        const PageFate fate = stopAt == 1 ? PageFate::Untouched : PageFate::Restored;
        Verdict verdict;
        verdict
            .Require(result == FormatResult::Cancelled, std::string("result ") + ResultName(result))
            .Require(record.end == RunEnd::Stopped, std::string("end ") + EndName(record.end))
            .Require(disk.ReadPage(0, kOldCisPage) == stick.oldCis, "the old CIS page is not back")
            .Require(disk.ReadPage(0, kOldVendorPage) == stick.oldVendor,
                     "the old vendor page is not back")
            .Require(record.cisFate == fate && record.vendorFate == fate,
                     std::string("fates ") + FateName(record.cisFate) + "/" +
                         FateName(record.vendorFate))
            .Require(disk.CisPageNumber() == kOldCisPage,
                     "the reader does not find the old CIS page")
            .Require(disk.CommandCount(0xC4) + disk.CommandCount(0x2A) == 0,
                     "a stopped run wrote a format")
            .Require(BrokenRule(stick, result));
        campaign.Judge("stop at block " + std::to_string(stopAt), verdict.Broken());
    }
    EXPECT_EQ(campaign.Points(), kBlocks);
    EXPECT_EQ(campaign.Failures(), 0u);
}

TEST(FaultCampaign, StopAtEveryBlockOfAQuickRunPutsTheOldPagesBack) {
    StopAtEveryBlock(
        FormatMode::Quick, [](FormatSettings&) {}, "stop at every block, Quick");
}

TEST(FaultCampaign, StopAtEveryBlockOfAFullRunWithEveryTestPutsTheOldPagesBack) {
    StopAtEveryBlock(
        FormatMode::Full,
        [](FormatSettings& s) {
            s.AscendPtnTest = s.PtnTest55 = s.PtnTestAA = 1;
            s.VerifyEraseFree = s.VerifyMarkBad = s.ForceTestBad = 1;
        },
        "stop at every block, Full with every test");
}

// ---------------------------------------------------------------------------------------------
// One command that fails, or goes unanswered, at every command of a Quick run.

void OneFaultAtEveryCommand(unsigned banks, const std::string& name,
                            const std::function<void(sim::SimBus&, std::uint32_t)>& fault) {
    const CleanRun clean = CleanQuickRun(banks);
    Campaign campaign(name);
    std::uint64_t mostCommands = 0;
    unsigned complete = 0;
    unsigned checkedByFsck = 0;
    // A few past the end: a fault that never comes must change nothing.
    for (std::uint32_t n = 1; n <= clean.commands + 2; ++n) {
        Stick stick(banks);
        fault(stick.machine.bus, n);
        const FormatResult result = stick.Run(FormatMode::Quick);
        const bool completed = result == FormatResult::CompleteReplug;
        Verdict verdict;
        verdict
            .Require(BrokenRule(stick, result))
            // One fault costs a retry or a few questions, never a run without end.
            .Require(stick.runCommands <= clean.commands + 16,
                     std::to_string(stick.runCommands) + " commands")
            .Require(n <= clean.commands || completed,
                     "a fault that never came changed the result");
        // A fault among the writes of the new format, and still complete: fsck.fat looks too.
        if (verdict.Holds() && completed && n > clean.scanLast) {
            verdict.Require(FsckComplaint(stick.Disk()));
            ++checkedByFsck;
        }
        complete += completed;
        mostCommands = std::max(mostCommands, stick.runCommands);
        campaign.Judge("command " + std::to_string(n) + " (" + ResultName(result) + ", end " +
                           EndName(stick.run.record.end) + ")",
                       verdict.Broken());
    }
    std::printf(
        "fault campaign: %s: clean run %u commands, at most %llu with the fault, %u of %u runs "
        "complete (%u of them checked by fsck.fat)\n",
        name.c_str(), clean.commands, static_cast<unsigned long long>(mostCommands), complete,
        campaign.Points(), checkedByFsck);
    EXPECT_EQ(campaign.Failures(), 0u);
}

// A CHECK CONDITION once, at every command, for each kind of sense a stick may give: the
// medium's error, a unit attention (the stick was reset), not ready, a spurious write-protected
// refusal and an illegal request.
struct Sense {
    const char* name;
    std::uint8_t key;
    std::uint8_t asc;
};
constexpr Sense kSenses[] = {
    {"medium error 3/11", 3, 0x11}, {"unit attention 6/28", 6, 0x28},  {"not ready 2/3A", 2, 0x3A},
    {"data protect 7/27", 7, 0x27}, {"illegal request 5/24", 5, 0x24},
};

TEST(FaultCampaign, ACheckConditionOnceAtEveryCommandOfAQuickRun) {
    for (const Sense& sense : kSenses) {
        OneFaultAtEveryCommand(1, std::string(sense.name) + " once at every command, Quick",
                               [&sense](sim::SimBus& bus, std::uint32_t n) {
                                   bus.FailOnCommand(n, sense.key, sense.asc);
                               });
    }
}

TEST(FaultCampaign, AnUnansweredCommandOnceAtEveryCommandOfAQuickRun) {
    OneFaultAtEveryCommand(1, "time-out once at every command, Quick",
                           [](sim::SimBus& bus, std::uint32_t n) { bus.HangOnCommand(n); });
}

// Two banks: the bank switches (and the switch back to bank 0 for the CIS page) are commands
// that may fail too.
TEST(FaultCampaign, AFailedOrUnansweredCommandOnceAtEveryCommandOfATwoBankQuickRun) {
    OneFaultAtEveryCommand(2, "medium error once at every command, two banks, Quick",
                           [](sim::SimBus& bus, std::uint32_t n) { bus.FailOnCommand(n); });
    OneFaultAtEveryCommand(2, "time-out once at every command, two banks, Quick",
                           [](sim::SimBus& bus, std::uint32_t n) { bus.HangOnCommand(n); });
}

// ---------------------------------------------------------------------------------------------
// A stop in bank 1, and a command of the write-back into bank 0 that fails.

TEST(FaultCampaign, AFailedCommandInTheWriteBackOfAStopInBankOneIsNeverTakenForRestored) {
    constexpr std::uint32_t kStopAt = kBlocks + 10;  // block 10 of bank 1
    std::uint64_t stopped = 0;
    {
        Stick stick(2);
        stick.run.StopWhenBlocksDone(kStopAt);
        ASSERT_EQ(stick.Run(FormatMode::Quick), FormatResult::Cancelled);
        EXPECT_EQ(stick.run.record.cisFate, PageFate::Restored);
        EXPECT_EQ(BrokenRule(stick, FormatResult::Cancelled), "");
        stopped = stick.runCommands;
    }
    // The write-back: bank 0's select, then each page's write and its read-back.
    constexpr std::uint32_t kWriteBack = 1 + 2 * 2;
    Campaign campaign("a failed command in the write-back of a stop in bank 1");
    for (const Sense& sense : kSenses) {
        for (std::uint64_t n = stopped - kWriteBack + 1; n <= stopped; ++n) {
            Stick stick(2);
            stick.run.StopWhenBlocksDone(kStopAt);
            stick.machine.bus.FailOnCommand(static_cast<std::uint32_t>(n), sense.key, sense.asc);
            const FormatResult result = stick.Run(FormatMode::Quick);
            campaign.Judge(std::string(sense.name) + " at command " + std::to_string(n),
                           BrokenRule(stick, result));
        }
    }
    EXPECT_EQ(campaign.Failures(), 0u);
}

// ---------------------------------------------------------------------------------------------
// A stick that locks up for good, or is pulled, at every command of a Quick run.

// A quiet stick's run message: that it does not answer, or before the scan, which old page could
// not be read and that nothing was erased.
bool SaysUnresponsive(const std::string& message, bool beforeTheScan) {
    const std::string nothingErased = "Nothing was erased.\n";
    return message == kUnresponsiveText ||
           (beforeTheScan && message.size() > nothingErased.size() &&
            message.compare(message.size() - nothingErased.size(), nothingErased.size(),
                            nothingErased) == 0);
}

// Commands the engine may send into the silence before it gives up: eight in a row make the
// stick quiet, and the write-back of the old pages (bank select, two pages) is tried all the same.
constexpr std::uint64_t kMostSilentCommands = 8 + 3;

TEST(FaultCampaign, AStickThatLocksUpAtAnyCommandEndsUnresponsiveWithinBoundedCommands) {
    const CleanRun clean = CleanQuickRun(1);
    Campaign campaign("lock-up from every command, Quick");
    std::uint64_t mostSilent = 0;
    for (std::uint32_t n = 1; n <= clean.commands; ++n) {
        Stick stick;
        stick.machine.bus.HangFromCommand(n);
        const FormatResult result = stick.Run(FormatMode::Quick);
        const RunRecord& record = stick.run.record;
        const std::uint64_t silent = stick.runCommands - (n - 1);
        mostSilent = std::max(mostSilent, silent);
        Verdict verdict;
        verdict.Require(BrokenRule(stick, result))
            .Require(result == FormatResult::Failed, std::string("result ") + ResultName(result))
            .Require(silent <= kMostSilentCommands,
                     std::to_string(silent) + " commands into the silence")
            .Require(record.end == RunEnd::Unresponsive, std::string("end ") + EndName(record.end))
            .Require(SaysUnresponsive(stick.run.runMessage, n < clean.scanFirst),
                     "message " + stick.run.runMessage)
            .Require(FalselyBad(record));
        campaign.Judge("command " + std::to_string(n), verdict.Broken());
    }
    std::printf("fault campaign: lock-up: at most %llu commands sent into the silence\n",
                static_cast<unsigned long long>(mostSilent));
    EXPECT_EQ(campaign.Failures(), 0u);
}

TEST(FaultCampaign, AStickPulledAtAnyCommandEndsRemovedWithNoBlockCountedBadAfterThePull) {
    const CleanRun clean = CleanQuickRun(1);
    Campaign campaign("pulled after every command, Quick");
    std::uint64_t mostUnanswered = 0;
    // 0: pulled before the first command of the run.
    for (std::uint32_t n = 0; n < clean.commands; ++n) {
        Stick stick;
        if (n == 0) {
            stick.machine.bus.Unplug();
        } else {
            stick.machine.bus.UnplugAfterCommands(n);
        }
        const std::uint64_t sentBefore = CommandsSent();
        const FormatResult result = stick.Run(FormatMode::Quick);
        const RunRecord& record = stick.run.record;
        // Commands that found no stick any more.
        const std::uint64_t unanswered = CommandsSent() - sentBefore - stick.runCommands;
        mostUnanswered = std::max(mostUnanswered, unanswered);
        // Once the new CIS page and the volume are being written there is no cancelling: the run
        // has failed.
        const FormatResult expected =
            n < clean.scanLast ? FormatResult::Cancelled : FormatResult::Failed;
        Verdict verdict;
        verdict.Require(BrokenRule(stick, result))
            .Require(result == expected, std::string("result ") + ResultName(result))
            .Require(record.end == RunEnd::Removed, std::string("end ") + EndName(record.end))
            .Require(unanswered <= kMostSilentCommands,
                     std::to_string(unanswered) + " commands after the pull")
            .Require(FalselyBad(record));
        campaign.Judge("pulled after " + std::to_string(n) + " commands", verdict.Broken());
    }
    std::printf("fault campaign: pull: at most %llu commands sent after the pull\n",
                static_cast<unsigned long long>(mostUnanswered));
    EXPECT_EQ(campaign.Failures(), 0u);
}

// ---------------------------------------------------------------------------------------------
// A write-protected stick that the probe takes for a writable one.

// The trace's commands that would change the stick, and how many of them it accepted.
struct Writes {
    unsigned tried = 0;
    unsigned accepted = 0;
};

Writes WritesIn(const std::vector<sim::TraceEntry>& trace) {
    Writes writes;
    for (const sim::TraceEntry& e : trace) {
        const std::uint8_t op = e.cdb[0];
        if (op == 0xF2 || op == 0xE9 || op == 0xC1 || op == 0xF1 || op == 0xC4 || op == 0x2A) {
            ++writes.tried;
            writes.accepted += e.outcome == sim::Outcome::Good;
        }
    }
    return writes;
}

TEST(FaultCampaign, AWriteProtectedStickTheProbeMissesReceivesNoAcceptedWrite) {
    struct Case {
        const char* name;
        bool cisPage;  // an old format on it; else none, and every block but block 0 marked bad
        FormatMode mode;
        bool forceTestBad;
    };
    const Case cases[] = {
        {"no CIS page, blocks marked, Quick", false, FormatMode::Quick, false},
        {"no CIS page, blocks marked, Quick, bad blocks retested", false, FormatMode::Quick, true},
        {"no CIS page, blocks marked, Full", false, FormatMode::Full, false},
        {"no CIS page, blocks marked, Full, bad blocks retested", false, FormatMode::Full, true},
        {"a one-sector logical disk, Quick", true, FormatMode::Quick, false},
        {"a one-sector logical disk, Full with every test", true, FormatMode::Full, true},
    };
    Campaign campaign("write-protected stick the probe misses");
    for (const Case& c : cases) {
        SimFlashDiskMachine machine({kSmallPart});
        sim::SimFlashDisk& disk = *machine.disk;
        if (c.cisPage) {
            sim::WriteCisPage(disk, kOldCisPage, kOldSectors);
            sim::WriteVendorPage(disk, kOldVendorPage, "vendor data of the old format");
            disk.SetSectorCount(1);  // the probe's sectors 1 to 9 do not read
        } else {
            // The probe looks for an unmarked block from block 1 on and finds none.
            for (std::uint32_t block = 1; block < kBlocks; ++block) disk.SetFactoryBad(0, block);
        }
        const sim::PageBytes oldCis = disk.ReadPage(0, kOldCisPage);
        disk.SetWriteProtected(true);

        const DiskState state = ProbeDisk(ReaderDeviceAccess(), machine.unit, true);
        machine.bus.ClearTrace();
        FakeRun run;
        run.settings.AscendPtnTest = 1;
        run.settings.VerifyMarkBad = 1;
        run.settings.ForceTestBad = c.forceTestBad ? 1 : 0;
        const FormatResult result = RunPhysicalFormat(run, machine.unit, c.mode);
        const Writes writes = WritesIn(machine.bus.Trace());
        Verdict verdict;
        verdict
            .Require(state.ready && state.writeProtectionProbed && !state.writeProtected,
                     "the probe did not miss the protection")
            .Require(
                result == FormatResult::Failed && run.record.end == RunEnd::WriteProtected,
                std::string("result ") + ResultName(result) + ", end " + EndName(run.record.end))
            .Require(writes.tried > 0 && writes.accepted == 0,
                     std::to_string(writes.accepted) + " of " + std::to_string(writes.tried) +
                         " writes accepted")
            .Require(run.runMessage == "Media is write-protected !\n", "message " + run.runMessage)
            // The refusal is no block's fault.
            .Require(run.record.badBlocks == 0,
                     std::to_string(run.record.badBlocks) + " blocks counted bad")
            .Require(disk.ReadPage(0, kOldCisPage) == oldCis, "the old CIS page changed")
            .Require(!c.cisPage || run.record.cisFate == PageFate::Untouched,
                     std::string("the old CIS page's fate ") + FateName(run.record.cisFate));
        campaign.Judge(c.name, verdict.Broken());
    }
    EXPECT_EQ(campaign.Failures(), 0u);
}

}  // namespace
