#pragma once
#include <cstdint>

#include "format/flash_geometry.h"
#include "format/page_image.h"
#include "format/run_interface.h"
#include "format/run_record.h"
#include "reader/reader_unit.h"

// The CIS page of the flash disk and the vendor page behind it: found and saved before the scan
// (which erases them), put back when the run is stopped, and replaced by the new CIS page after
// a complete scan. Every page operation is on bank 0 with bank 0's geometry.

constexpr std::int32_t kNoPage = -1;

struct CisState {
    std::int32_t oldCisPage = kNoPage;     // where the old CIS page was found
    std::int32_t oldVendorPage = kNoPage;  // always oldCisPage + 1 when there is one
    std::int32_t targetCisPage = kNoPage;  // first page of bank 0's first good block
    PageImage savedCis{};
    PageImage savedVendor{};
};

// Makes `bank` the target of the raw-flash commands that follow. Asked once more after the sense
// when it fails: every page command after a failed switch would go to the bank selected before.
// False when the switch failed twice.
bool SelectFlashBank(ReaderUnit& unit, std::uint8_t bank);

// Asks the reader where the CIS page is and saves it (and, with RestoreVendorPage on, the vendor
// page after it when that starts with "USBC"). A page number the reader cannot name inside bank 0
// counts as none. Each read that fails is asked once more after the sense has been read; when it
// fails again there is no image to put back, so the run must not go on: false, with the run
// message set. Nothing has been written then.
bool DiscoverOldCis(RunInterface& run, ReaderUnit& unit, const FlashGeometry& bank0,
                    CisState& state);

// Writes the saved pages back where they were (stop, abort, or a stick that went away) and reads
// each back: a page counts as restored only when it reads back as it was saved. When bank 0
// cannot be selected nothing is written and the pages are lost.
struct RestoreOutcome {
    PageFate cis = PageFate::None;
    PageFate vendor = PageFate::None;
    bool Lost() const { return cis == PageFate::Lost || vendor == PageFate::Lost; }
};
RestoreOutcome RestoreOldCis(ReaderUnit& unit, const FlashGeometry& bank0, const CisState& state);

// After a complete scan: moves the vendor page behind the target, writes the new CIS page, sends
// the closing vendor command (once more after the sense when it fails: the controller must have
// taken the new page before a volume goes on it) and lays down the FAT volume over
// totals[bankCount - 1] sectors. False when the run must fail; the run message is set then.
// `record`, when given, learns the new page, whether the vendor page moved, and the volume's size.
bool WriteCisAndVolume(RunInterface& run, ReaderUnit& unit, const FlashGeometry& bank0,
                       const CisState& state, const GroupTable& groups,
                       const BankSectorTotals& totals, std::uint8_t bankCount,
                       RunRecord* record = nullptr);
