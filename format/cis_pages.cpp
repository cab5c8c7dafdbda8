#include "format/cis_pages.h"

#include <functional>
#include <string>

#include "format/fat_volume.h"
#include "format/format_texts.h"
#include "reader/commands.h"
#include "reader/sense.h"

namespace {

std::uint32_t PagesPerBank(const FlashGeometry& geometry) {
    return std::uint32_t{geometry.blocksPerBank} * geometry.pagesPerBlock;
}

// A command that the run cannot do without: asked once more after the sense data has been read
// (a unit attention, say, fails one command and no more).
bool AskTwice(MediaType unit, const std::function<int()>& read) {
    if (read() == 1) return true;
    GetSenseStatus(unit);
    return read() == 1;
}

bool Fail(RunInterface& run, const char* message, const char* logLine) {
    run.SetRunMessage(message);
    run.Log().Append(logLine);
    return false;
}

// Writes a saved page back and reads it again: only a page that reads back as saved is back.
PageFate WriteBack(MediaType unit, std::int32_t page, std::uint8_t pagesPerBlock,
                   const PageImage& image) {
    if (page == kNoPage) return PageFate::None;
    const std::uint32_t at = static_cast<std::uint32_t>(page);
    PageImage check{};
    if (WritePageWithSpare(unit, at, pagesPerBlock, image.data()) != 1 ||
        ReadPageWithSpare(unit, at, pagesPerBlock, check.data()) != 1 || check != image) {
        return PageFate::Lost;
    }
    return PageFate::Restored;
}

}  // namespace

bool SelectFlashBank(MediaType unit, std::uint8_t bank) {
    return AskTwice(unit, [&] { return SelectBank(unit, bank); });
}

bool DiscoverOldCis(RunInterface& run, MediaType unit, const FlashGeometry& bank0,
                    CisState& state) {
    FormatLog& log = run.Log();
    std::uint32_t reported = 0xFFFFFFFFu;
    if (!AskTwice(unit, [&] { return ReadCisPageNumber(unit, &reported); })) {
        return Fail(run, texts::kCisNumberUnreadable, texts::kLogCisNumberUnreadable);
    }
    // A number past bank 0 cannot be ours to restore: writing there would hit another block.
    if (reported >= PagesPerBank(bank0)) reported = 0xFFFFFFFFu;
    state.oldCisPage = static_cast<std::int32_t>(reported);
    state.oldVendorPage = kNoPage;
    if (state.oldCisPage == kNoPage) {
        log.Append(texts::kLogNoOldCis);
        return true;
    }
    log.Append(texts::kLogOldCis, state.oldCisPage);
    if (!SelectFlashBank(unit, 0)) {
        log.Append(texts::kLogSelectBankFail, 0);
        run.SetRunMessage(texts::kSelectBankUnanswered);
        return false;
    }
    if (!AskTwice(unit, [&] {
            return ReadPageWithSpare(unit, reported, bank0.pagesPerBlock, state.savedCis.data());
        })) {
        return Fail(run, texts::kOldCisUnreadable, texts::kLogOldCisUnreadable);
    }
    if (run.Settings().RestoreVendorPage == 0) {
        log.Append(texts::kLogRestoreVendorOff);
        return true;
    }
    const std::uint32_t vendorPage = reported + 1;
    state.savedVendor.fill(0);
    if (vendorPage < PagesPerBank(bank0) && !AskTwice(unit, [&] {
            return ReadPageWithSpare(unit, vendorPage, bank0.pagesPerBlock,
                                     state.savedVendor.data());
        })) {
        return Fail(run, texts::kOldVendorUnreadable, texts::kLogOldVendorUnreadable);
    }
    if (HasCisSignature(state.savedVendor)) {
        state.oldVendorPage = static_cast<std::int32_t>(vendorPage);
        log.Append(texts::kLogOldVendor, state.oldVendorPage);
    } else {
        log.Append(texts::kLogNoOldVendor);
    }
    return true;
}

RestoreOutcome RestoreOldCis(MediaType unit, const FlashGeometry& bank0, const CisState& state) {
    RestoreOutcome outcome;
    if (!SelectFlashBank(unit, 0)) {
        // Written anywhere else they would be another bank's pages, not these.
        if (state.oldCisPage != kNoPage) outcome.cis = PageFate::Lost;
        if (state.oldVendorPage != kNoPage) outcome.vendor = PageFate::Lost;
        return outcome;
    }
    outcome.cis = WriteBack(unit, state.oldCisPage, bank0.pagesPerBlock, state.savedCis);
    outcome.vendor = WriteBack(unit, state.oldVendorPage, bank0.pagesPerBlock, state.savedVendor);
    return outcome;
}

bool WriteCisAndVolume(RunInterface& run, MediaType unit, const FlashGeometry& bank0,
                       const CisState& state, const GroupTable& groups,
                       const BankSectorTotals& totals, std::uint8_t bankCount, RunRecord* record) {
    FormatLog& log = run.Log();
    if (state.targetCisPage == kNoPage) {
        run.MessageBox(std::string(texts::MediaDamaged()) + texts::kNoCisSuffix, run.Title(),
                       BoxButtons::Ok);
        run.SetRunMessage(texts::MediaDamaged());
        log.Append(texts::kLogNoCis);
        return false;
    }
    const std::uint32_t target = static_cast<std::uint32_t>(state.targetCisPage);
    log.Append(texts::kLogCisPage, state.targetCisPage);
    const PageImage cisPage = BuildDiskCisPage(groups, totals);

    // The vendor page travels with the CIS page, to the page right after it.
    if (state.oldVendorPage != kNoPage) {
        const bool moved =
            SelectFlashBank(unit, 0) && WritePageWithSpare(unit, target + 1, bank0.pagesPerBlock,
                                                           state.savedVendor.data()) == 1;
        if (record != nullptr) record->vendorFate = moved ? PageFate::Restored : PageFate::Lost;
    }
    if (!SelectFlashBank(unit, 0) ||
        !WritePageWithSpare(unit, target, bank0.pagesPerBlock, cisPage.data())) {
        run.MessageBox(texts::kWriteCisFailBox, run.ApplicationName(), BoxButtons::Ok);
        run.SetRunMessage(texts::kWriteCisFailRun);
        log.Append(texts::kLogWriteCisFail);
        return false;
    }
    if (record != nullptr) {
        record->cisPage = state.targetCisPage;
        record->totals = totals;
    }
    // Only this command has the controller take its tables from the new page: a volume laid down
    // without it would go where the old tables say, and the stick would not be what it claims.
    if (!AskTwice(unit, [&] { return SendVendorC4(unit); })) {
        run.SetRunMessage(texts::kLoadCisFailRun);
        log.Append(texts::kLogLoadCisFail);
        return false;
    }

    const std::uint32_t volumeSectors = totals[bankCount - 1];
    switch (WriteFatVolumeNoMbr(unit, volumeSectors, run.VolumeLabel())) {
        case FatVolumeResult::Written:
            if (record != nullptr) record->volumeSectors = volumeSectors;
            return true;
        case FatVolumeResult::SizeRefused:
            run.SetRunMessage(texts::MediaDamaged());
            log.Append(texts::kLogVolumeRefused, static_cast<std::int32_t>(volumeSectors));
            return false;
        case FatVolumeResult::WriteFailed:
            break;
    }
    run.SetRunMessage(texts::kWriteVolumeFailRun);
    log.Append(texts::kLogWriteVolumeFail);
    return false;
}
