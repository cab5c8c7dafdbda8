#pragma once
#include <cstdint>

#include "format/flash_geometry.h"
#include "format/page_image.h"
#include "format/run_interface.h"
#include "reader/media_type.h"

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
    // False when the old CIS page could not be read: there is no image of it to put back.
    bool savedCisRead = false;
};

// Asks the reader where the CIS page is and saves it (and, with RestoreVendorPage on, the vendor
// page after it when that starts with "USBC"). A page number the reader cannot name inside bank 0
// counts as none. An old CIS page that cannot be read is still logged and still leads to the
// vendor page, but its image is never written back.
void DiscoverOldCis(RunInterface& run, MediaType unit, const FlashGeometry& bank0, CisState& state);

// Writes the saved pages back where they were (stop or abort); outcomes are not consulted.
void RestoreOldCis(MediaType unit, const FlashGeometry& bank0, const CisState& state);

// After a complete scan: moves the vendor page behind the target, writes the new CIS page, sends
// the closing vendor command and lays down the FAT volume over totals[bankCount - 1] sectors.
// False when the run must fail; the run message is set then.
bool WriteCisAndVolume(RunInterface& run, MediaType unit, const FlashGeometry& bank0,
                       const CisState& state, const GroupTable& groups,
                       const BankSectorTotals& totals, std::uint8_t bankCount);
