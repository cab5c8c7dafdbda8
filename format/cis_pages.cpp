#include "format/cis_pages.h"

#include <string>

#include "format/fat_volume.h"
#include "format/format_texts.h"
#include "reader/commands.h"

namespace {

std::uint32_t PagesPerBank(const FlashGeometry& geometry) {
    return std::uint32_t{geometry.blocksPerBank} * geometry.pagesPerBlock;
}

}  // namespace

void DiscoverOldCis(RunInterface& run, MediaType unit, const FlashGeometry& bank0,
                    CisState& state) {
    FormatLog& log = run.Log();
    std::uint32_t reported = 0xFFFFFFFFu;
    if (!ReadCisPageNumber(unit, &reported)) reported = 0xFFFFFFFFu;
    // A number past bank 0 cannot be ours to restore: writing there would hit another block.
    if (reported >= PagesPerBank(bank0)) reported = 0xFFFFFFFFu;
    state.oldCisPage = static_cast<std::int32_t>(reported);
    state.oldVendorPage = kNoPage;
    if (state.oldCisPage == kNoPage) {
        log.Append(texts::kLogNoOldCis);
        return;
    }
    log.Append(texts::kLogOldCis, state.oldCisPage);
    SelectBank(unit, 0);
    state.savedCis.fill(0);
    // Putting back an image that was never read would write zeros, a bad-block mark included,
    // over the disk's first good block.
    state.savedCisRead =
        ReadPageWithSpare(unit, reported, bank0.pagesPerBlock, state.savedCis.data()) != 0;
    if (run.Settings().RestoreVendorPage == 0) {
        log.Append(texts::kLogRestoreVendorOff);
        return;
    }
    const std::uint32_t vendorPage = reported + 1;
    state.savedVendor.fill(0);  // a failed read leaves no signature: no vendor page
    if (vendorPage < PagesPerBank(bank0)) {
        ReadPageWithSpare(unit, vendorPage, bank0.pagesPerBlock, state.savedVendor.data());
    }
    if (HasCisSignature(state.savedVendor)) {
        state.oldVendorPage = static_cast<std::int32_t>(vendorPage);
        log.Append(texts::kLogOldVendor, state.oldVendorPage);
    } else {
        log.Append(texts::kLogNoOldVendor);
    }
}

void RestoreOldCis(MediaType unit, const FlashGeometry& bank0, const CisState& state) {
    SelectBank(unit, 0);
    if (state.oldCisPage != kNoPage && state.savedCisRead) {
        WritePageWithSpare(unit, static_cast<std::uint32_t>(state.oldCisPage), bank0.pagesPerBlock,
                           state.savedCis.data());
    }
    if (state.oldVendorPage != kNoPage) {
        WritePageWithSpare(unit, static_cast<std::uint32_t>(state.oldVendorPage),
                           bank0.pagesPerBlock, state.savedVendor.data());
    }
}

bool WriteCisAndVolume(RunInterface& run, MediaType unit, const FlashGeometry& bank0,
                       const CisState& state, const GroupTable& groups,
                       const BankSectorTotals& totals, std::uint8_t bankCount) {
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
        SelectBank(unit, 0);
        WritePageWithSpare(unit, target + 1, bank0.pagesPerBlock, state.savedVendor.data());
    }
    SelectBank(unit, 0);
    if (!WritePageWithSpare(unit, target, bank0.pagesPerBlock, cisPage.data())) {
        run.MessageBox(texts::kWriteCisFailBox, run.ApplicationName(), BoxButtons::Ok);
        run.SetRunMessage(texts::kWriteCisFailRun);
        log.Append(texts::kLogWriteCisFail);
        return false;
    }
    SendVendorC4(unit);

    const std::uint32_t volumeSectors = totals[bankCount - 1];
    switch (WriteFatVolumeNoMbr(unit, volumeSectors)) {
        case FatVolumeResult::Written:
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
