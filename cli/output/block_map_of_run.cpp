#include "cli/output/block_map_of_run.h"

#include "cli/output/size_text.h"

namespace {

BlockState StateOfReason(BadReason reason) {
    switch (reason) {
        case BadReason::Marked:
            return BlockState::Marked;
        case BadReason::Erase:
            return BlockState::FailedErase;
        case BadReason::PatternAscending:
            return BlockState::FailedAscending;
        case BadReason::Pattern55:
            return BlockState::Failed55;
        case BadReason::PatternAA:
            return BlockState::FailedAA;
        case BadReason::NotFree:
            return BlockState::FailedNotFree;
    }
    return BlockState::Marked;
}

}  // namespace

BlockMap BlockMapOfReport(const RunReport& report) {
    const RunRecord& r = report.record;
    BlockMap map;
    map.title = report.device.node + "  " + report.device.vendor + " " + report.device.product +
                "  " + report.command +
                (report.hasMode ? (report.mode == FormatMode::Full ? ", full" : ", quick") : "");
    map.totals.push_back(
        "Result: " + report.result + ".  Bad blocks: " + std::to_string(r.badBlocks) +
        (r.unmarkableBlocks != 0
             ? ", of which " + std::to_string(r.unmarkableBlocks) + " could not be marked"
             : std::string()));
    std::string capacity = "Capacity: ";
    capacity += report.capacityBeforeKnown ? SizeText(report.capacityBeforeSectors) + " before"
                                           : std::string("not formatted before");
    if (report.capacityAfterKnown)
        capacity += ", " + SizeText(report.capacityAfterSectors) + " after";
    map.totals.push_back(capacity);

    // The block that holds the CIS page: the new one once written, else the old one.
    const std::int32_t cisPage = r.cisPage >= 0         ? r.cisPage
                                 : report.cis.page >= 0 ? report.cis.page
                                                        : r.oldCisPage;
    for (std::size_t b = 0; b < r.banks.size(); ++b) {
        const BankRecord& bank = r.banks[b];
        MapBank drawn;
        drawn.deviceCode = bank.deviceCode;
        drawn.blocks.assign(bank.blocks, bank.scanned ? BlockState::Good : BlockState::NotScanned);
        for (std::uint32_t block : bank.holdingData) {
            if (block < drawn.blocks.size()) drawn.blocks[block] = BlockState::Data;
        }
        for (const BadBlock& bad : bank.bad) {
            if (bad.block < drawn.blocks.size())
                drawn.blocks[bad.block] = StateOfReason(bad.reason);
        }
        for (std::uint32_t block : bank.unmarkable) {
            if (block < drawn.blocks.size()) drawn.blocks[block] = BlockState::Unmarkable;
        }
        if (b == 0 && cisPage >= 0 && bank.pagesPerBlock != 0) {
            const std::uint32_t block = static_cast<std::uint32_t>(cisPage) / bank.pagesPerBlock;
            const bool vendor = r.vendorFate != PageFate::Lost &&
                                (r.oldVendorPage >= 0 || report.cis.hasVendorPage);
            if (block < drawn.blocks.size()) {
                drawn.blocks[block] = vendor ? BlockState::CisAndVendor : BlockState::Cis;
            }
        }
        map.banks.push_back(drawn);
    }
    return map;
}
