#include "sim/machine/factory_image.h"

#include <algorithm>
#include <cstring>

#include "reader/byte_order.h"
#include "sim/firmware/cis_layout.h"
#include "sim/sim_flash_disk.h"

namespace sim {

namespace {

// The vendor's text takes at most this much of its page; from kVendorTailOffset on the page
// carries a recognisable tail, so that a page put back in the wrong place shows.
constexpr std::size_t kVendorTextMax = 200;
constexpr std::size_t kVendorTailOffset = 256;

PageBytes SignedPage() {
    PageBytes image{};
    std::memcpy(image.data() + cis::kSignatureOffset, cis::kSignature, cis::kSignatureBytes);
    return image;
}

// A page of bank 0 as the controller writes its own pages: data, no bad-block mark, the rest
// of the spare area 0.
void ProgramOwnPage(SimFlashDisk& disk, std::uint32_t page, PageBytes& image) {
    std::fill_n(image.begin() + kMarkFirst, kMarkBytes, 0xFF);
    disk.ProgramPageRaw(0, page, image.data());
}

// The data blocks a format would find in a group: its unmarked blocks but the last.
std::uint32_t UsableBlocks(const SimFlashDisk& disk, std::size_t bank, std::uint32_t group) {
    const BankGeometry& g = disk.Geometry(bank);
    std::uint32_t usable = 0;
    for (std::uint32_t i = 0; i < cis::kGroupBlocks - 1; ++i) {
        const std::uint32_t block = group * cis::kGroupBlocks + i;
        if (block < g.blocksPerBank && !disk.IsMarkedBad(bank, block)) ++usable;
    }
    return usable;
}

}  // namespace

std::uint32_t DefaultSectorTotal(const SimFlashDisk& disk) {
    std::uint32_t total = 0;
    for (std::size_t b = 0; b < std::min(disk.BankCount(), cis::kBanks); ++b) {
        const BankGeometry& g = disk.Geometry(b);
        total += cis::GroupsOf(g.blocksPerBank) * cis::kMaxGroupDataBlocks * g.pagesPerBlock;
    }
    return total;
}

void WriteCisPage(SimFlashDisk& disk, std::uint32_t page, std::uint32_t sectors) {
    PageBytes image = SignedPage();
    const std::size_t banks = std::min(disk.BankCount(), cis::kBanks);
    std::uint32_t remaining = sectors;
    std::uint32_t cumulative = 0;
    for (std::size_t b = 0; b < banks; ++b) {
        // The banks fill in order, each group with the blocks it can offer: as a format would
        // count them, never more than the group's unmarked blocks.
        const BankGeometry& g = disk.Geometry(b);
        const std::uint32_t groups = cis::GroupsOf(g.blocksPerBank);
        for (std::uint32_t group = 0; group < groups && group < cis::kGroupsPerBank; ++group) {
            const std::uint32_t entry =
                std::min({UsableBlocks(disk, b, group), cis::kMaxGroupDataBlocks,
                          remaining / g.pagesPerBlock});
            image[cis::GroupEntryOffset(b, group)] = static_cast<std::uint8_t>(entry);
            remaining -= entry * g.pagesPerBlock;
            cumulative += entry * g.pagesPerBlock;
        }
        PutLe32(&image[cis::BankTotalOffset(b)], cumulative);
    }
    // The last total is the size asked for even when the groups cannot carry it: such a page is
    // one the controller refuses to load (C4h).
    if (banks > 0) PutLe32(&image[cis::BankTotalOffset(banks - 1)], sectors);
    ProgramOwnPage(disk, page, image);
}

void WriteVendorPage(SimFlashDisk& disk, std::uint32_t page, const std::string& text) {
    PageBytes image = SignedPage();
    std::memcpy(image.data() + cis::kVendorTextOffset, text.data(),
                std::min(text.size(), kVendorTextMax));
    for (std::size_t i = kVendorTailOffset; i < kPageDataBytes; ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7);
    }
    ProgramOwnPage(disk, page, image);
}

void WriteDataBlock(SimFlashDisk& disk, std::size_t bank, std::uint32_t block) {
    const BankGeometry& g = disk.Geometry(bank);
    PageBytes image;
    for (std::uint32_t p = 0; p < g.pagesPerBlock; ++p) {
        // Data that differs from page to page and block to block.
        for (std::size_t i = 0; i < kPageDataBytes; ++i) {
            image[i] = static_cast<std::uint8_t>(i + 13 * p + 101 * block);
        }
        std::fill(image.begin() + kPageDataBytes, image.end(), 0xFF);
        // The logical block this one holds, as the firmware keeps it.
        PutBe16(&image[cis::kSpareLogicalBlock], static_cast<std::uint16_t>(block));
        image[cis::kSpareLogicalBank] = static_cast<std::uint8_t>(bank);
        std::fill(image.begin() + cis::kSpareLogicalBank + 1, image.begin() + cis::kSpareLogicalEnd,
                  0x00);
        disk.ProgramPageRaw(bank, block * g.pagesPerBlock + p, image.data());
    }
}

}  // namespace sim
