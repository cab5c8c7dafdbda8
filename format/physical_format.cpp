#include "format/physical_format.h"

#include <algorithm>
#include <array>

#include "format/block_probes.h"
#include "format/cis_pages.h"
#include "format/format_texts.h"
#include "format/page_image.h"
#include "reader/commands.h"
#include "reader/sense.h"

namespace {

// Blocks a group can offer at most, and the blocks of every group kept back as reserve.
constexpr std::uint8_t kMaxDataBlocksPerGroup = 250;
constexpr std::uint8_t kReserveBlocksPerGroup = 3;

// The working record of one run.
struct FormatRun {
    RunInterface& run;
    MediaType unit;
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

    const FlashGeometry& Bank0() const { return *geometry[0]; }
};

enum class BlockVerdict { Next, Stop, Abort };

// Reads the device code into a cleared reply: a failed read gives code 0, which no part has.
const FlashGeometry* ReadBankGeometry(MediaType unit, std::uint8_t bank) {
    SelectBank(unit, bank);
    std::uint8_t reply[2] = {};
    ReadDeviceCode(unit, reply);
    return LookupFlashGeometry(reply[0]);
}

FormatResult Start(FormatRun& f) {
    RunInterface& run = f.run;
    if (!TestUnitReady(f.unit) && GetSenseStatus(f.unit) != SenseUnitAttention) {
        run.SetRunMessage(texts::MediaNotPresent());
        return FormatResult::Failed;
    }
    std::uint8_t reply[2] = {};
    if (!GetBankCount(f.unit, reply)) {
        run.SetRunMessage(texts::kBankCountFailed);
        return FormatResult::Failed;
    }
    if (reply[0] == 0) {
        run.SetRunMessage(texts::kBankCountZero);
        return FormatResult::Failed;
    }
    // The CIS page has room for eight banks; a larger count is not a disk this format knows.
    if (reply[0] > kMaxBanks) {
        run.SetRunMessage(texts::kBankCountTooLarge);
        run.Log().Append(texts::kLogBankCountTooLarge, reply[0]);
        return FormatResult::Failed;
    }
    f.bankCount = reply[0];

    run.ResetProgress();
    run.SetProgressPosition(4);
    run.TotalBlocks() = 0;
    run.BlocksDone() = 0;
    for (std::uint8_t bank = 0; bank < f.bankCount; ++bank) {
        f.geometry[bank] = ReadBankGeometry(f.unit, bank);
        if (f.geometry[bank] == nullptr) {
            run.SetRunMessage(texts::kInvalidDeviceCode);
            run.Log().Append(texts::kLogInvalidDeviceCode, bank);
            return FormatResult::Failed;
        }
        run.TotalBlocks() += f.geometry[bank]->blocksPerBank;
    }
    DiscoverOldCis(run, f.unit, f.Bank0(), f.cis);
    return FormatResult::CompleteReplug;
}

void CloseGroup(FormatRun& f, std::uint8_t bank, std::uint32_t group,
                const FlashGeometry& geometry) {
    std::uint8_t& entry = f.groups[bank][group];
    if (f.freeInGroup > kReserveBlocksPerGroup) {
        entry =
            std::min<std::uint8_t>(f.freeInGroup - kReserveBlocksPerGroup, kMaxDataBlocksPerGroup);
    }
    f.freeInGroup = 0;
    f.totals[bank] += std::uint32_t{entry} * geometry.pagesPerBlock;
}

// The Full mode surface tests in their order; false at the first that fails.
bool PassesSurfaceTests(FormatRun& f, std::uint32_t block, const FlashGeometry& geometry) {
    const FormatSettings& settings = f.run.Settings();
    const std::int32_t logBlock = static_cast<std::int32_t>(block);
    if (settings.AscendPtnTest != 0 &&
        !TestBlockPattern(f.unit, block, geometry, AscendingSelector)) {
        f.run.Log().Append(texts::kLogAscendFail, logBlock);
        return false;
    }
    if (settings.PtnTest55 != 0 && !TestBlockPattern(f.unit, block, geometry, 0x55, true)) {
        f.run.Log().Append(texts::kLog55Fail, logBlock);
        return false;
    }
    if (settings.PtnTestAA != 0 && !TestBlockPattern(f.unit, block, geometry, 0xAA, true)) {
        f.run.Log().Append(texts::kLogAAFail, logBlock);
        return false;
    }
    return true;
}

// Tests (Full mode), erases and verifies a block; true when it can hold data.
bool ReclaimBlock(FormatRun& f, std::uint32_t block, const FlashGeometry& geometry) {
    const std::int32_t logBlock = static_cast<std::int32_t>(block);
    if (f.full && !PassesSurfaceTests(f, block, geometry)) return false;
    if (!EraseBlock(f.unit, block, geometry.pagesPerBlock)) {
        f.run.Log().Append(texts::kLogEraseFail, logBlock);
        return false;
    }
    if (f.full && f.run.Settings().VerifyEraseFree != 0 &&
        !TestBlockPattern(f.unit, block, geometry, 0xFF, false)) {
        f.run.Log().Append(texts::kLogNotFree, logBlock);
        return false;
    }
    return true;
}

BlockVerdict MarkBad(FormatRun& f, std::uint32_t block, const FlashGeometry& geometry) {
    RunInterface& run = f.run;
    MarkBlockBad(f.unit, block, geometry.pagesPerBlock);
    BlockVerdict verdict = BlockVerdict::Next;
    if (f.full && run.Settings().VerifyMarkBad != 0 && !IsBlockMarked(f.unit, block, geometry)) {
        MarkBlockBad(f.unit, block, geometry.pagesPerBlock);
        if (!IsBlockMarked(f.unit, block, geometry)) {
            ++f.unmarkableBlocks;
            run.Log().Append(texts::kLogMarkBadFail, static_cast<std::int32_t>(block));
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
    ++f.badBlocks;
    run.NoteBadBlocks(f.badBlocks);
    return verdict;
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

    if (!IsBlockGood(f.unit, block, geometry)) {
        run.Log().Append(texts::kLogBadBlock, static_cast<std::int32_t>(block));
        if (run.Settings().ForceTestBad == 0) {
            ++f.badBlocks;
            run.NoteBadBlocks(f.badBlocks);
            return BlockVerdict::Next;
        }
    }
    if (!ReclaimBlock(f, block, geometry)) return MarkBad(f, block, geometry);

    if (!lastOfGroup) ++f.freeInGroup;
    if (bank == 0 && f.cis.targetCisPage == kNoPage) {
        f.cis.targetCisPage = static_cast<std::int32_t>(block * geometry.pagesPerBlock);
        if (!lastOfGroup) --f.freeInGroup;  // the CIS block holds no data
    }
    return BlockVerdict::Next;
}

FormatResult StopPath(FormatRun& f) {
    f.run.Log().Append(texts::kLogUserStop);
    f.run.Log().Append(texts::kLogSaveOldCis);
    RestoreOldCis(f.unit, f.Bank0(), f.cis);
    return FormatResult::Cancelled;
}

FormatResult AbortPath(FormatRun& f) {
    f.run.Log().Append(texts::kLogSaveOldCis);
    RestoreOldCis(f.unit, f.Bank0(), f.cis);
    f.run.SetRunMessage(texts::kMediaDamagedRun);
    f.run.Log().Append(texts::kLogUserAbort);
    return FormatResult::Cancelled;
}

FormatResult Scan(FormatRun& f) {
    for (std::uint8_t bank = 0; bank < f.bankCount; ++bank) {
        f.run.Log().Append(texts::kLogBankNo, bank);
        // The code is read again as the reader expects after a bank switch; the geometry is the
        // one validated before the scan, so a failed read here cannot leave the bank unknown.
        ReadBankGeometry(f.unit, bank);
        const FlashGeometry& geometry = *f.geometry[bank];
        f.freeInGroup = 0;
        if (bank > 0) f.totals[bank] = f.totals[bank - 1];
        for (std::uint32_t block = 0; block < geometry.blocksPerBank; ++block) {
            switch (ScanBlock(f, bank, block, geometry)) {
                case BlockVerdict::Stop:
                    return StopPath(f);
                case BlockVerdict::Abort:
                    return AbortPath(f);
                case BlockVerdict::Next:
                    break;
            }
        }
    }
    return FormatResult::CompleteReplug;
}

}  // namespace

FormatResult RunPhysicalFormat(RunInterface& run, MediaType unit, FormatMode mode) {
    FormatRun f{run, unit, mode == FormatMode::Full};
    FormatResult result = Start(f);
    if (result != FormatResult::CompleteReplug) return result;
    result = Scan(f);
    if (result != FormatResult::CompleteReplug) return result;

    if (!WriteCisAndVolume(run, unit, f.Bank0(), f.cis, f.groups, f.totals, f.bankCount))
        return FormatResult::Failed;
    run.ShowPercentText("100%");
    run.Log().Append(texts::kLogTotals, static_cast<std::int32_t>(f.badBlocks),
                     static_cast<std::int32_t>(f.unmarkableBlocks));
    run.SetRunMessage(texts::CompleteReplug());
    return FormatResult::CompleteReplug;
}
