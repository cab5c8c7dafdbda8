#include "format/physical_format.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "core/string_table.h"
#include "format/block_groups.h"
#include "format/block_probes.h"
#include "format/cis_backup.h"
#include "format/cis_pages.h"
#include "format/format_texts.h"
#include "format/page_image.h"
#include "reader/reader.h"
#include "reader/reader_unit.h"

namespace {

// Commands in a row that get no answer at all before the stick counts as gone quiet. A single
// time-out is a block's failure like any other; flash that fails answers with a status and its
// sense, so eight commands without any answer (16 seconds of time-outs at the most) mean the
// stick or its bridge has stopped, and going on would only mark good blocks bad for days.
constexpr std::uint32_t kSilentCommandLimit = 8;

// Times a block is looked at anew after the way to the stick failed under it (a host-side error,
// the stick still there), or after a time-out the system ended by resetting the stick. Errors
// that keep coming mean a link that cannot carry a format; a time-out that keeps coming is the
// block's own failure.
constexpr int kBlockRedos = 2;

// The working record of one run.
struct FormatRun {
    RunInterface& run;
    ReaderUnit unit;  // the run's own: what it saw of its commands is the run's
    bool full;
    std::uint8_t bankCount = 0;
    std::array<const FlashGeometry*, kMaxBanks> geometry{};  // validated before the scan
    CisState cis;
    GroupTable groups{};
    BankSectorTotals totals{};
    std::uint8_t freeInGroup = 0;
    std::uint32_t badBlocks = 0;
    std::uint32_t unmarkableBlocks = 0;
    bool damageBoxSuppressed = false;
    bool erasedAny = false;  // whether a block of the stick may have been erased yet
    std::uint64_t lastErased = ~std::uint64_t{0};  // the block noted last (bank << 32 | block)
    std::uint64_t hostErrorsSettled = 0;           // host-side errors looked into so far
    RunRecord record;
    // Blocks counted bad while the commands went unanswered: not bad, only not heard.
    std::vector<std::pair<std::uint8_t, std::uint32_t>> badWhileSilent;

    const FlashGeometry& Bank0() const { return *geometry[0]; }
};

enum class BlockVerdict {
    Next,
    Again,     // the way to the stick failed under the block, the stick is there: look anew
    BankLost,  // the block's bank could not be selected again after such a failure
    Stop,
    Abort,
    Removed,
    Unresponsive,
    WriteProtected,
};

// Selects the bank and reads its device code into a cleared reply: a failed read gives code 0,
// which no part has. False when the bank could not be selected (the code would be another's).
bool ReadBankGeometry(ReaderUnit& unit, std::uint8_t bank, const FlashGeometry** geometry) {
    if (!SelectFlashBank(unit, bank)) return false;
    std::uint8_t reply[2] = {};
    unit.ReadDeviceCode(reply);
    *geometry = LookupFlashGeometry(reply[0]);
    return true;
}

// Whether the stick can still be talked to, by what the run's own commands came to: gone (the
// system says there is no device), quiet (too many commands in a row without an answer), or
// there. A command that ended with an error of the host's side says nothing of the stick or its
// block: whether the stick is still there is settled first (Again when it is: what failed is to be
// done anew). So does, where the caller may do a block anew (`mayRedo`), a time-out that the
// system ended by resetting the stick: what the command did is not known, and the stick answering
// again says so.
BlockVerdict LinkVerdict(FormatRun& f, bool mayRedo = false) {
    if (f.unit.HostErrors() != f.hostErrorsSettled) {
        const LinkAfterHostError link = f.unit.SettleAfterHostError();
        f.hostErrorsSettled = f.unit.HostErrors();
        switch (link) {
            case LinkAfterHostError::Gone:
                return f.run.EndsRunOnRemoval() ? BlockVerdict::Removed : BlockVerdict::Next;
            case LinkAfterHostError::Quiet:
                return BlockVerdict::Unresponsive;
            case LinkAfterHostError::There:
                return BlockVerdict::Again;
        }
    }
    const CommandStatus last = f.unit.LastOutcome().status;
    if (last == CommandStatus::NoDevice) {
        // The dialog hears of a pulled stick from the system, whose rescan stops the run.
        return f.run.EndsRunOnRemoval() ? BlockVerdict::Removed : BlockVerdict::Next;
    }
    if (last == CommandStatus::TimedOut && f.unit.SilentInARow() >= kSilentCommandLimit) {
        return BlockVerdict::Unresponsive;
    }
    if (last == CommandStatus::TimedOut && mayRedo && f.unit.ResetsAfterTimeOut()) {
        const std::uint64_t resets = f.unit.Resets();
        if (f.unit.TestUnitReady().Good() || f.unit.Resets() != resets) return BlockVerdict::Again;
        return LinkVerdict(f);
    }
    return BlockVerdict::Next;
}

// Whether the stick can still be talked to, where the run is about to end or to write its new
// format: after a command that timed out, TEST UNIT READY is asked until the stick answers or
// the commands without an answer reach the limit. A single time-out there must not pass for the
// failure of a step, nor a stick that has locked up for a stick that failed a step.
// Outside the scan a step that failed on the way to a stick that is still there stays failed.
BlockVerdict SettledLinkVerdict(FormatRun& f) {
    BlockVerdict verdict = LinkVerdict(f);
    while (verdict == BlockVerdict::Next &&
           f.unit.LastOutcome().status == CommandStatus::TimedOut) {
        f.unit.TestUnitReady();
        verdict = LinkVerdict(f);
    }
    return verdict == BlockVerdict::Again ? BlockVerdict::Next : verdict;
}

// After a command that wrote to the stick failed: true when the stick refused it as
// write-protected.
bool RefusedAsWriteProtected(ReaderUnit& unit) {
    return unit.LastOutcome().status == CommandStatus::CheckCondition &&
           unit.GetSenseStatus() == SenseDataProtect;
}

BankRecord& BankOf(FormatRun& f, std::uint8_t bank) { return f.record.banks[bank]; }

void CountBad(FormatRun& f, std::uint8_t bank, std::uint32_t block, BadReason reason) {
    ++f.badBlocks;
    BankOf(f, bank).bad.push_back(BadBlock{block, reason});
    if (f.unit.SilentInARow() > 0) {
        f.badWhileSilent.emplace_back(bank, block);
    } else {
        f.badWhileSilent.clear();
    }
    f.run.NoteBadBlocks(f.badBlocks);
}

// The blocks counted bad since the stick went quiet are taken back out of the counts.
void ForgetBadWhileSilent(FormatRun& f) {
    for (const auto& [bank, block] : f.badWhileSilent) {
        auto& bad = BankOf(f, bank).bad;
        bad.erase(std::remove_if(bad.begin(), bad.end(),
                                 [block = block](const BadBlock& b) { return b.block == block; }),
                  bad.end());
        auto& unmarkable = BankOf(f, bank).unmarkable;
        const auto marked = std::find(unmarkable.begin(), unmarkable.end(), block);
        if (marked != unmarkable.end()) {
            unmarkable.erase(marked);
            --f.unmarkableBlocks;
        }
        --f.badBlocks;
    }
    f.badWhileSilent.clear();
    f.run.NoteBadBlocks(f.badBlocks);
}

FormatResult Fail(FormatRun& f, const std::string& message) {
    f.run.SetRunMessage(message);
    return FormatResult::Failed;
}

RestoreOutcome Restore(FormatRun& f);

// Before the scan: the stick went away or quiet while it was being looked at. Nothing was
// erased, and the record says so of the old pages. A quiet stick's run message says so, unless
// the step that failed left one of its own (keepMessage).
FormatResult EndBeforeScan(FormatRun& f, BlockVerdict verdict, bool keepMessage = false) {
    Restore(f);
    if (verdict == BlockVerdict::Removed) {
        f.record.end = RunEnd::Removed;
        f.run.Log().Append(texts::kLogRemoved);
        return FormatResult::Cancelled;
    }
    f.record.end = RunEnd::Unresponsive;
    f.run.Log().Append(texts::kLogUnresponsive);
    if (keepMessage) return FormatResult::Failed;
    return Fail(f, texts::kUnresponsive);
}

FormatResult Start(FormatRun& f) {
    RunInterface& run = f.run;
    if (!f.unit.TestUnitReady().Good() && f.unit.GetSenseStatus() != SenseUnitAttention) {
        const BlockVerdict link = SettledLinkVerdict(f);
        if (link != BlockVerdict::Next) return EndBeforeScan(f, link);
        return Fail(f, texts::MediaNotPresent());
    }
    std::uint8_t reply[2] = {};
    if (!f.unit.GetBankCount(reply).Good()) {
        const BlockVerdict link = SettledLinkVerdict(f);
        if (link != BlockVerdict::Next) return EndBeforeScan(f, link);
        return Fail(f, texts::kBankCountFailed);
    }
    if (reply[0] == 0) return Fail(f, texts::kBankCountZero);
    // The CIS page has room for eight banks; a larger count is not a disk this format knows.
    if (reply[0] > kMaxBanks) {
        run.Log().Append(texts::kLogBankCountTooLarge, reply[0]);
        return Fail(f, texts::kBankCountTooLarge);
    }
    f.bankCount = reply[0];

    run.ResetProgress();
    run.SetProgressPosition(4);
    run.TotalBlocks() = 0;
    run.BlocksDone() = 0;
    for (std::uint8_t bank = 0; bank < f.bankCount; ++bank) {
        if (!ReadBankGeometry(f.unit, bank, &f.geometry[bank])) {
            const BlockVerdict link = SettledLinkVerdict(f);
            if (link != BlockVerdict::Next) return EndBeforeScan(f, link);
            run.Log().Append(texts::kLogSelectBankFail, bank);
            return Fail(f, texts::kSelectBankUnanswered);
        }
        if (f.geometry[bank] == nullptr) {
            const BlockVerdict link = SettledLinkVerdict(f);
            if (link != BlockVerdict::Next) return EndBeforeScan(f, link);
            run.Log().Append(texts::kLogInvalidDeviceCode, bank);
            return Fail(f, texts::kInvalidDeviceCode);
        }
        run.TotalBlocks() += f.geometry[bank]->blocksPerBank;
        BankRecord bankRecord;
        bankRecord.deviceCode = f.geometry[bank]->deviceCode;
        bankRecord.blocks = f.geometry[bank]->blocksPerBank;
        bankRecord.pagesPerBlock = f.geometry[bank]->pagesPerBlock;
        f.record.banks.push_back(bankRecord);
    }
    const bool discovered = DiscoverOldCis(run, f.unit, f.Bank0(), f.cis);
    f.record.oldCisPage = f.cis.oldCisPage;
    f.record.oldVendorPage = f.cis.oldVendorPage;
    if (!discovered) {
        // The run message says which page could not be read, and that nothing was erased.
        const BlockVerdict link = SettledLinkVerdict(f);
        if (link != BlockVerdict::Next) return EndBeforeScan(f, link, true);
        return FormatResult::Failed;
    }
    if (f.cis.oldCisPage != kNoPage) {
        // The only copy of the stick's tables would otherwise be in this process's memory.
        CisBackup pages;
        for (std::uint8_t bank = 0; bank < f.bankCount; ++bank) {
            pages.banks.push_back(BackupBank{f.geometry[bank]->deviceCode,
                                             f.geometry[bank]->pagesPerBlock,
                                             f.geometry[bank]->blocksPerBank});
        }
        pages.cisPage = f.cis.oldCisPage;
        pages.vendorPage = f.cis.oldVendorPage;
        pages.cis = f.cis.savedCis;
        pages.vendor = f.cis.savedVendor;
        std::string reason;
        if (!run.KeepOldPages(pages, &reason)) {
            run.Log().Append(texts::kLogOldPagesNotKept);
            return Fail(f, texts::kOldPagesNotKept + reason + texts::kNothingErased);
        }
    }
    return FormatResult::CompleteReplug;
}

// A block whose tests or erase went to the stick: the run has (or may have) erased, and the block
// counts once among those whose data is gone, however often it is looked at.
void NoteErased(FormatRun& f, std::uint8_t bank, std::uint32_t block) {
    f.erasedAny = true;
    const std::uint64_t key = std::uint64_t{bank} << 32 | block;
    if (f.lastErased == key) return;
    f.lastErased = key;
    ++f.record.erasedBlocks;
}

void CloseGroup(FormatRun& f, std::uint8_t bank, std::uint32_t group,
                const FlashGeometry& geometry) {
    std::uint8_t& entry = f.groups[bank][group];
    entry = GroupDataBlocks(f.freeInGroup);
    f.freeInGroup = 0;
    f.totals[bank] += std::uint32_t{entry} * geometry.pagesPerBlock;
}

// What became of a block's tests, erase and verification.
struct Reclaim {
    bool good = true;
    BadReason reason = BadReason::Erase;
    bool wrote = false;  // the failing step wrote to the stick (its refusal may be protection)
};

Reclaim Failed(BadReason reason, bool wrote) { return Reclaim{false, reason, wrote}; }

// The Full mode surface tests in their order, up to the first that fails.
Reclaim SurfaceTests(FormatRun& f, std::uint8_t bank, std::uint32_t block,
                     const FlashGeometry& geometry) {
    const FormatSettings& settings = f.run.Settings();
    FormatLog& log = f.run.Log();
    const std::int32_t logBlock = static_cast<std::int32_t>(block);
    if (settings.AscendPtnTest != 0 &&
        !TestBlockPattern(f.unit, block, geometry, AscendingSelector)) {
        log.AppendBlockLine(texts::kLogAscendFail, logBlock, bank);
        return Failed(BadReason::PatternAscending, true);
    }
    if (settings.PtnTest55 != 0 && !TestBlockPattern(f.unit, block, geometry, 0x55, true)) {
        log.AppendBlockLine(texts::kLog55Fail, logBlock, bank);
        return Failed(BadReason::Pattern55, true);
    }
    if (settings.PtnTestAA != 0 && !TestBlockPattern(f.unit, block, geometry, 0xAA, true)) {
        log.AppendBlockLine(texts::kLogAAFail, logBlock, bank);
        return Failed(BadReason::PatternAA, true);
    }
    return Reclaim{};
}

// Tests (Full mode), erases and verifies a block.
Reclaim ReclaimBlock(FormatRun& f, std::uint8_t bank, std::uint32_t block,
                     const FlashGeometry& geometry) {
    const std::int32_t logBlock = static_cast<std::int32_t>(block);
    if (f.full) {
        const Reclaim tested = SurfaceTests(f, bank, block, geometry);
        if (!tested.good) return tested;
    }
    if (!f.unit.EraseBlock(block, geometry.pagesPerBlock).Good()) {
        f.run.Log().AppendBlockLine(texts::kLogEraseFail, logBlock, bank);
        return Failed(BadReason::Erase, true);
    }
    if (f.full && f.run.Settings().VerifyEraseFree != 0 &&
        !TestBlockPattern(f.unit, block, geometry, 0xFF, false)) {
        f.run.Log().AppendBlockLine(texts::kLogNotFree, logBlock, bank);
        return Failed(BadReason::NotFree, false);
    }
    return Reclaim{};
}

BlockVerdict MarkBad(FormatRun& f, std::uint8_t bank, std::uint32_t block,
                     const FlashGeometry& geometry, BadReason reason) {
    RunInterface& run = f.run;
    f.unit.MarkBlockBad(block, geometry.pagesPerBlock);
    BlockVerdict verdict = BlockVerdict::Next;
    if (f.full && run.Settings().VerifyMarkBad != 0 && !IsBlockMarked(f.unit, block, geometry)) {
        f.unit.MarkBlockBad(block, geometry.pagesPerBlock);
        if (!IsBlockMarked(f.unit, block, geometry)) {
            ++f.unmarkableBlocks;
            BankOf(f, bank).unmarkable.push_back(block);
            run.Log().AppendBlockLine(texts::kLogMarkBadFail, static_cast<std::int32_t>(block),
                                      bank);
            if (!f.damageBoxSuppressed) {
                switch (run.MessageBox(texts::DamagedAbortRetryIgnore(), run.Title(),
                                       BoxButtons::AbortRetryIgnore)) {
                    case BoxAnswer::Abort:
                        verdict = BlockVerdict::Abort;
                        break;
                    case BoxAnswer::Ignore:
                        f.damageBoxSuppressed = true;
                        break;
                    default:  // Retry: the block stays bad and the scan goes on
                        break;
                }
            }
            run.SetRunMessage(texts::kMediaDamagedRun);
        }
    }
    CountBad(f, bank, block, reason);
    return verdict;
}

// Tests, erases and counts one block, after its entry into the scan; `mayRedo`: it may be looked
// at anew once more.
BlockVerdict JudgeBlock(FormatRun& f, std::uint8_t bank, std::uint32_t block,
                        const FlashGeometry& geometry, bool lastOfGroup, bool mayRedo) {
    RunInterface& run = f.run;
    if (!IsBlockGood(f.unit, block, geometry)) {
        // A block whose read went unanswered is not judged: the stick is gone or quiet.
        const BlockVerdict link = LinkVerdict(f, mayRedo);
        if (link != BlockVerdict::Next) return link;
        run.Log().AppendBlockLine(texts::kLogBadBlock, static_cast<std::int32_t>(block), bank);
        if (run.Settings().ForceTestBad == 0) {
            CountBad(f, bank, block, BadReason::Marked);
            return BlockVerdict::Next;
        }
    }
    const Reclaim reclaimed = ReclaimBlock(f, bank, block, geometry);
    if (!reclaimed.good) {
        const BlockVerdict link = LinkVerdict(f, mayRedo);
        if (link != BlockVerdict::Next) {
            // The answer was lost on the way (the stick pulled, a reset): what went out may have
            // erased the block, the old pages' with it.
            NoteErased(f, bank, block);
            return link;
        }
        // A stick that refuses writes as protected has nothing to gain from the rest.
        if (reclaimed.wrote && RefusedAsWriteProtected(f.unit)) {
            return BlockVerdict::WriteProtected;
        }
        NoteErased(f, bank, block);  // the tests erase too; what failed after that may have
        const BlockVerdict marked = MarkBad(f, bank, block, geometry, reclaimed.reason);
        // The block failed by the stick's own answer; a mark that went astray on the way is not
        // looked for again (its outcome counts for nothing).
        const BlockVerdict after = LinkVerdict(f);
        return after != BlockVerdict::Next && after != BlockVerdict::Again ? after : marked;
    }
    NoteErased(f, bank, block);
    // Steps whose outcome counts for nothing may have met the way's failure.
    const BlockVerdict link = LinkVerdict(f);
    if (link != BlockVerdict::Next) return link;

    if (!lastOfGroup) ++f.freeInGroup;
    if (bank == 0 && f.cis.targetCisPage == kNoPage) {
        f.cis.targetCisPage = static_cast<std::int32_t>(block * geometry.pagesPerBlock);
        if (!lastOfGroup) --f.freeInGroup;  // the CIS block holds no data
    }
    return BlockVerdict::Next;
}

BlockVerdict ScanBlock(FormatRun& f, std::uint8_t bank, std::uint32_t block,
                       const FlashGeometry& geometry) {
    RunInterface& run = f.run;
    ++run.BlocksDone();
    run.PumpOneMessage();
    if (run.StopRequested()) return BlockVerdict::Stop;
    const bool lastOfGroup = block % kBlocksPerGroup == kBlocksPerGroup - 1;
    // A group's count covers its first 255 blocks: it is closed before its last one is looked at.
    if (lastOfGroup) CloseGroup(f, bank, block / kBlocksPerGroup, geometry);

    for (int redo = 0;; ++redo) {
        // A time-out that keeps coming back once the stick is reset is the block's own failure.
        const BlockVerdict verdict =
            JudgeBlock(f, bank, block, geometry, lastOfGroup, redo < kBlockRedos);
        if (verdict != BlockVerdict::Again) return verdict;
        if (redo == kBlockRedos) return BlockVerdict::Unresponsive;
        // Whatever failed on the way may have reset the stick: its bank is selected again
        // before the block is looked at anew.
        const FlashGeometry* again = nullptr;
        if (!ReadBankGeometry(f.unit, bank, &again)) {
            const BlockVerdict link = LinkVerdict(f);
            return link != BlockVerdict::Next && link != BlockVerdict::Again
                       ? link
                       : BlockVerdict::BankLost;
        }
    }
}

// Puts the old pages back, when the scan may have erased them, and notes what became of them.
RestoreOutcome Restore(FormatRun& f) {
    RestoreOutcome outcome;
    f.run.NotePhase("old pages back");
    if (!f.erasedAny) {
        outcome.cis = f.cis.oldCisPage != kNoPage ? PageFate::Untouched : PageFate::None;
        outcome.vendor = f.cis.oldVendorPage != kNoPage ? PageFate::Untouched : PageFate::None;
    } else {
        outcome = RestoreOldCis(f.unit, f.Bank0(), f.cis);
    }
    f.record.cisFate = outcome.cis;
    f.record.vendorFate = outcome.vendor;
    if (outcome.Lost()) f.run.Log().Append(texts::kLogRestoreFailed);
    return outcome;
}

// A run that is cancelled but could not put the old pages back on a stick that is there has
// failed: the stick has lost its tables and must not be left looking merely cancelled. A stick
// that is gone (the write-back met no device) ends cancelled, as a pull always has; the record
// says what became of its pages.
FormatResult CancelledUnlessLost(FormatRun& f, const RestoreOutcome& outcome) {
    if (!outcome.Lost()) return FormatResult::Cancelled;
    const CommandStatus last = f.unit.LastOutcome().status;
    // Refused: the unit is no longer in the table, a rescan found it gone.
    if (last == CommandStatus::NoDevice || last == CommandStatus::Refused) {
        f.record.end = RunEnd::Removed;
        return FormatResult::Cancelled;
    }
    return Fail(f, texts::kRestoreFailed);
}

FormatResult StopPath(FormatRun& f) {
    f.record.end = RunEnd::Stopped;
    f.run.Log().Append(texts::kLogUserStop);
    f.run.Log().Append(texts::kLogSaveOldCis);
    return CancelledUnlessLost(f, Restore(f));
}

FormatResult AbortPath(FormatRun& f) {
    f.record.end = RunEnd::Aborted;
    f.run.Log().Append(texts::kLogSaveOldCis);
    const RestoreOutcome outcome = Restore(f);
    f.run.SetRunMessage(texts::kMediaDamagedRun);
    f.run.Log().Append(texts::kLogUserAbort);
    return CancelledUnlessLost(f, outcome);
}

// The stick went away: the old pages are written back in case it is still there after all;
// the run ends as a pull does in the dialog, cancelled.
FormatResult RemovedPath(FormatRun& f) {
    f.record.end = RunEnd::Removed;
    f.run.Log().Append(texts::kLogRemoved);
    f.run.Log().Append(texts::kLogSaveOldCis);
    Restore(f);
    return FormatResult::Cancelled;
}

FormatResult UnresponsivePath(FormatRun& f) {
    f.record.end = RunEnd::Unresponsive;
    ForgetBadWhileSilent(f);
    f.run.Log().Append(texts::kLogUnresponsive);
    f.run.Log().Append(texts::kLogSaveOldCis);
    Restore(f);  // if the stick answers again, its pages go back
    return Fail(f, texts::kUnresponsive);
}

FormatResult WriteProtectedPath(FormatRun& f) {
    f.record.end = RunEnd::WriteProtected;
    f.run.Log().Append(texts::kLogWriteProtected);
    Restore(f);  // sends nothing unless a block was erased before the protection showed
    return Fail(f, std::string(AppString(IDS_WRITE_PROTECTED)) + "\n");
}

// Where the run is about to end or to write: true, with the run's end, when the stick was pulled
// or has stopped answering.
bool LinkLost(FormatRun& f, FormatResult* result) {
    switch (SettledLinkVerdict(f)) {
        case BlockVerdict::Removed:
            *result = RemovedPath(f);
            return true;
        case BlockVerdict::Unresponsive:
            *result = UnresponsivePath(f);
            return true;
        default:
            break;
    }
    return false;
}

// A bank switch of the scan failed: the blocks of the bank cannot be reached, and every command
// would go to another bank. The old pages go back.
FormatResult BankSwitchFailedPath(FormatRun& f, std::uint8_t bank) {
    FormatResult lost;
    if (LinkLost(f, &lost)) return lost;
    f.record.end = RunEnd::Failed;
    f.run.Log().Append(texts::kLogSelectBankFail, bank);
    f.run.Log().Append(texts::kLogSaveOldCis);
    Restore(f);
    return Fail(f, texts::kSelectBankFailed);
}

FormatResult Scan(FormatRun& f) {
    f.run.NotePhase("scan");
    for (std::uint8_t bank = 0; bank < f.bankCount; ++bank) {
        f.run.Log().Append(texts::kLogBankNo, bank);
        // The code is read again as the reader expects after a bank switch; the geometry is the
        // one validated before the scan, so a failed read here cannot leave the bank unknown.
        const FlashGeometry* again = nullptr;
        if (!ReadBankGeometry(f.unit, bank, &again)) return BankSwitchFailedPath(f, bank);
        const FlashGeometry& geometry = *f.geometry[bank];
        f.freeInGroup = 0;
        if (bank > 0) f.totals[bank] = f.totals[bank - 1];
        for (std::uint32_t block = 0; block < geometry.blocksPerBank; ++block) {
            switch (ScanBlock(f, bank, block, geometry)) {
                case BlockVerdict::Stop:
                    return StopPath(f);
                case BlockVerdict::Abort:
                    return AbortPath(f);
                case BlockVerdict::Removed:
                    return RemovedPath(f);
                case BlockVerdict::Unresponsive:
                    return UnresponsivePath(f);
                case BlockVerdict::WriteProtected:
                    return WriteProtectedPath(f);
                case BlockVerdict::BankLost:
                    return BankSwitchFailedPath(f, bank);
                case BlockVerdict::Next:
                case BlockVerdict::Again:  // settled in ScanBlock
                    break;
            }
        }
        BankRecord& record = BankOf(f, bank);
        record.scanned = true;
        for (std::uint8_t entry : f.groups[bank]) record.dataBlocks += entry;
    }
    return FormatResult::CompleteReplug;
}

FormatResult Run(FormatRun& f) {
    FormatResult result = Start(f);
    if (result != FormatResult::CompleteReplug) return result;
    result = Scan(f);
    if (result != FormatResult::CompleteReplug) return result;
    // The last blocks may have gone unanswered: the new format is not written into the silence
    // (and blocks counted bad in it are taken back).
    FormatResult lost;
    if (LinkLost(f, &lost)) return lost;

    RunInterface& run = f.run;
    run.NotePhase("CIS page and volume");
    if (!WriteCisAndVolume(run, f.unit, f.Bank0(), f.cis, f.groups, f.totals, f.bankCount,
                           &f.record)) {
        const BlockVerdict link = SettledLinkVerdict(f);
        // Until a new CIS page stands the stick has none: the old pages go back where they were.
        // Once it stands they are replaced, whatever became of the volume.
        if (f.record.cisPage == kNoPage) {
            run.Log().Append(texts::kLogSaveOldCis);
            Restore(f);
        }
        switch (link) {
            case BlockVerdict::Removed:
                f.record.end = RunEnd::Removed;
                break;
            case BlockVerdict::Unresponsive:
                f.record.end = RunEnd::Unresponsive;
                run.Log().Append(texts::kLogUnresponsive);
                run.SetRunMessage(texts::kUnresponsive);
                break;
            default:
                f.record.end = RunEnd::Failed;
                break;
        }
        return FormatResult::Failed;
    }
    f.record.end = RunEnd::Complete;
    run.ShowPercentText("100%");
    run.Log().Append(texts::kLogTotals, static_cast<std::int32_t>(f.badBlocks),
                     static_cast<std::int32_t>(f.unmarkableBlocks));
    run.SetRunMessage(texts::CompleteReplug());
    return FormatResult::CompleteReplug;
}

}  // namespace

FormatResult RunPhysicalFormat(RunInterface& run, Reader& reader, MediaType unit, FormatMode mode) {
    FormatRun f{run, ReaderUnit(reader, unit), mode == FormatMode::Full};
    const FormatResult result = Run(f);
    f.record.badBlocks = f.badBlocks;
    f.record.unmarkableBlocks = f.unmarkableBlocks;
    if (f.record.end == RunEnd::NotStarted && f.erasedAny) f.record.end = RunEnd::Failed;
    f.record.changedFlash = f.erasedAny;
    run.NoteRunRecord(f.record);
    return result;
}
