#include "sim/firmware/cis_map.h"

#include <algorithm>
#include <cstring>

#include "reader/byte_order.h"
#include "sim/firmware/cis_layout.h"

namespace sim {

namespace {

std::uint32_t UnmarkedBlocks(const FlashArray& flash, std::size_t bank, std::uint32_t first,
                             std::uint32_t count) {
    const std::uint32_t end =
        std::min<std::uint32_t>(first + count, flash.Geometry(bank).blocksPerBank);
    std::uint32_t unmarked = 0;
    for (std::uint32_t b = first; b < end; ++b) {
        if (!flash.Marked(bank, b)) ++unmarked;
    }
    return unmarked;
}

}  // namespace

std::uint32_t FindCisPage(const FlashArray& flash) {
    if (flash.BankCount() == 0) return kNoPage;
    const BankGeometry& g = flash.Geometry(0);
    for (std::uint32_t b = 0; b < g.blocksPerBank; ++b) {
        const std::uint32_t page = b * g.pagesPerBlock;
        std::uint8_t head[cis::kSignatureBytes];
        flash.Read(0, page, cis::kSignatureOffset, sizeof head, head);
        if (std::memcmp(head, cis::kSignature, sizeof head) == 0 && !flash.Marked(0, b)) {
            return page;
        }
    }
    return kNoPage;
}

std::uint32_t CisSectorTotal(const FlashArray& flash) {
    const std::uint32_t page = FindCisPage(flash);
    if (page == kNoPage) return 0;
    const std::size_t last = std::min(flash.BankCount(), cis::kBanks) - 1;
    std::uint8_t total[cis::kBankTotalBytes];
    flash.Read(0, page, cis::BankTotalOffset(last), sizeof total, total);
    return GetLe32(total);
}

bool CisPageConsistent(const FlashArray& flash, std::uint32_t page) {
    std::uint8_t image[kPageDataBytes];
    flash.Read(0, page, 0, kPageDataBytes, image);
    std::uint32_t running = 0;
    for (std::size_t b = 0; b < cis::kBanks; ++b) {
        const bool exists = b < flash.BankCount();
        const std::uint32_t groups = exists ? cis::GroupsOf(flash.Geometry(b).blocksPerBank) : 0;
        std::uint32_t blocks = 0;
        for (std::uint32_t g = 0; g < cis::kGroupsPerBank; ++g) {
            const std::uint8_t entry = image[cis::GroupEntryOffset(b, g)];
            if (entry == 0) continue;
            if (g >= groups || entry > cis::kMaxGroupDataBlocks) return false;
            const std::uint32_t first = g * cis::kGroupBlocks;
            if (entry > UnmarkedBlocks(flash, b, first, cis::kGroupBlocks - 1)) return false;
            blocks += entry;
        }
        if (exists) running += blocks * flash.Geometry(b).pagesPerBlock;
        const std::uint32_t total = GetLe32(image + cis::BankTotalOffset(b));
        if (total != (exists ? running : 0)) return false;
    }
    return true;
}

}  // namespace sim
