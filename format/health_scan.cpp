#include "format/health_scan.h"

#include <array>

#include "format/block_probes.h"
#include "format/flash_geometry.h"
#include "format/page_image.h"
#include "reader/commands.h"
#include "reader/sense.h"

namespace {

// Spare bytes 6-10 that are not all FFh, or data bytes that are not, say a block holds data.
bool HoldsData(const PageImage& page) {
    return !IsAllFF(&page[kBlankMarkOffset], kBlankMarkBytes) || !IsAllFF(page.data(), 512);
}

void LookAtCisPage(MediaType unit, HealthScan* scan) {
    std::uint32_t page = 0xFFFFFFFFu;
    if (ReadCisPageNumber(unit, &page) != 1 || scan->banks.empty()) return;
    const BankRecord& bank0 = scan->banks[0];
    const std::uint32_t pagesInBank = std::uint32_t{bank0.blocks} * bank0.pagesPerBlock;
    if (page >= pagesInBank) return;  // none, or a number no page of bank 0 has
    scan->cisPage = static_cast<std::int32_t>(page);
    SelectBank(unit, 0);
    PageImage image{};
    if (ReadPageWithSpare(unit, page, bank0.pagesPerBlock, image.data()) != 1) return;
    scan->cisDecoded = DecodeCisPage(image, &scan->cis);
    if (scan->cisDecoded) {
        std::array<std::uint8_t, kMaxBanks> pagesPerBlock{};
        for (std::size_t b = 0; b < scan->banks.size() && b < kMaxBanks; ++b) {
            pagesPerBlock[b] = scan->banks[b].pagesPerBlock;
            std::uint32_t blocks = 0;
            for (std::uint8_t count : scan->cis.groups[b]) blocks += count;
            scan->banks[b].dataBlocks = blocks;
        }
        scan->cisTotalsAgree = scan->cis.TotalsAgree(pagesPerBlock);
    }
    if (page + 1 < pagesInBank &&
        ReadPageWithSpare(unit, page + 1, bank0.pagesPerBlock, image.data()) == 1) {
        scan->vendorPage = HasCisSignature(image);
    }
}

HealthScan Look(MediaType unit, bool readBlocks, const LookProgress& progress) {
    HealthScan scan;
    GetSenseStatus(unit);  // clears whatever an earlier command left pending
    scan.ready = TestUnitReady(unit) == 1 || GetSenseStatus(unit) == SenseUnitAttention;
    if (!scan.ready) return scan;
    std::uint8_t capacity[8] = {};
    if (ReadCapacity(unit, capacity) == 1) {
        scan.capacityRead = true;
        scan.logicalSectors = BigEndian32(capacity) + 1;
    }
    std::uint8_t reply[2] = {};
    if (GetBankCount(unit, reply) != 1 || reply[0] == 0 || reply[0] > kMaxBanks) return scan;
    scan.bankCount = reply[0];

    std::vector<const FlashGeometry*> geometry;
    std::uint32_t total = 0;
    for (std::uint8_t bank = 0; bank < scan.bankCount; ++bank) {
        SelectBank(unit, bank);
        std::uint8_t code[2] = {};
        ReadDeviceCode(unit, code);
        const FlashGeometry* g = LookupFlashGeometry(code[0]);
        if (g == nullptr) return scan;
        geometry.push_back(g);
        BankRecord record;
        record.deviceCode = g->deviceCode;
        record.blocks = g->blocksPerBank;
        record.pagesPerBlock = g->pagesPerBlock;
        scan.banks.push_back(record);
        total += g->blocksPerBank;
    }
    scan.banksKnown = true;

    std::uint32_t done = 0;
    std::uint32_t bad = 0;
    for (std::uint8_t bank = 0; readBlocks && bank < scan.bankCount && !scan.stopped; ++bank) {
        SelectBank(unit, bank);
        const FlashGeometry& g = *geometry[bank];
        BankRecord& record = scan.banks[bank];
        for (std::uint32_t block = 0; block < g.blocksPerBank; ++block) {
            PageImage page{};  // zeros: a read that fails reads as a marked block
            ReadPageWithSpare(unit, block * g.pagesPerBlock, g.pagesPerBlock, page.data());
            if (!IsAllFF(&page[kBadMarkOffset], kBadMarkBytes)) {
                record.bad.push_back(BadBlock{block, BadReason::Marked});
                ++bad;
            } else if (HoldsData(page)) {
                record.holdingData.push_back(block);
            }
            if (progress && !progress(++done, total, bad)) {
                scan.stopped = true;
                break;
            }
        }
        record.scanned = !scan.stopped;
    }
    LookAtCisPage(unit, &scan);

    std::uint8_t boot[512] = {};
    if (scan.capacityRead && ReadSectors(unit, 0, 1, boot) == 1) {
        scan.volumeFound = DecodeBootSector(boot, &scan.volume);
    }
    return scan;
}

}  // namespace

HealthScan ScanHealth(MediaType unit, const LookProgress& progress) {
    return Look(unit, true, progress);
}

HealthScan LookWithoutBlocks(MediaType unit) { return Look(unit, false, nullptr); }
