#include "cli/output/health_text.h"

#include "cli/output/progress_view.h"
#include "cli/output/size_text.h"
#include "cli/shared/monotonic_clock.h"
#include "cli/shared/stop_signals.h"
#include "reader/media_type.h"

namespace {

std::string Hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

std::string BankLine(const HealthScan& scan, const HealthJudgement& judgement, std::size_t b) {
    const BankRecord& bank = scan.banks[b];
    std::string text = "Bank " + std::to_string(b) + ": device code " + Hex(bank.deviceCode) +
                       ", " + std::to_string(bank.blocks) + " blocks of " +
                       std::to_string(bank.pagesPerBlock) + " pages; " +
                       std::to_string(bank.bad.size()) + " marked bad, " +
                       std::to_string(bank.holdingData.size()) + " holding data";
    if (!bank.bad.empty()) {
        text += " (bad:";
        for (std::size_t i = 0; i < bank.bad.size() && i < 16; ++i) {
            text += " " + std::to_string(bank.bad[i].block);
        }
        text += bank.bad.size() > 16 ? " ...)" : ")";
    }
    if (bank.scanned && b < judgement.banks.size()) {
        const BankHealth& health = judgement.banks[b];
        text += "; " + std::to_string(health.spareBlocks) + " spare beyond " +
                std::to_string(health.dataBlocks) + " data blocks";
    }
    return text + "\n";
}

// "Flash: holds at most 15.6 MiB (32000 sectors); announced: 8192.0 MiB (16777216 sectors) by
// READ CAPACITY, 8192.0 MiB (16777216 sectors) by its CIS page".
std::string FlashLine(const HealthJudgement& j) {
    if (j.banks.empty()) return std::string();
    std::string text = "Flash: holds at most " + SizeText(j.flashHoldsSectors);
    std::string announced;
    if (j.announced.readCapacity) {
        announced += SizeText(*j.announced.readCapacity) + " by READ CAPACITY";
    }
    if (j.announced.cisPage) {
        announced +=
            (announced.empty() ? "" : ", ") + SizeText(*j.announced.cisPage) + " by its CIS page";
    }
    if (!announced.empty()) text += "; announced: " + announced;
    return text + "\n";
}

}  // namespace

HealthScan LookAtEveryBlock(ReaderUnit& stick, std::FILE* out, bool quiet, ProgressEvents& events) {
    const double started = MonotonicSeconds();
    ProgressView view(out, IsTerminal(out), quiet);
    const HealthScan scan =
        ScanHealth(stick, [&](std::uint32_t done, std::uint32_t all, std::uint32_t bad) {
            ProgressFigures figures;
            figures.blocksDone = done;
            figures.totalBlocks = all;
            figures.badBlocks = bad;
            figures.elapsedSeconds = MonotonicSeconds() - started;
            figures.phase = "look";
            view.Update(figures, done == all);
            events.Progress(figures, done == all);
            return StopSignalCount() == 0;
        });
    view.Break();
    return scan;
}

void FillCheckReport(const HealthScan& scan, RunReport* report) {
    report->record.banks = scan.banks;
    for (const BankRecord& bank : scan.banks) {
        report->record.badBlocks += static_cast<std::uint32_t>(bank.bad.size());
    }
    report->capacityBeforeKnown = scan.capacityRead;
    report->capacityBeforeSectors = scan.logicalSectors;
    if (scan.cisPage >= 0 && scan.cisDecoded) {
        report->cis.page = scan.cisPage;
        report->cis.totals = scan.cis.totals;
        report->cis.banks = scan.cis.banks;
        report->cis.sectors = scan.cis.sectors;
        report->cis.hasVendorPage = scan.vendorPage;
    }
    if (scan.volumeFound) {
        report->volume.present = true;
        report->volume.label = scan.volume.label;
        report->volume.fat16 = scan.volume.type == FatType::Fat16;
        report->volume.sectors = scan.volume.totalSectors;
        report->volume.sectorsPerCluster = scan.volume.sectorsPerCluster;
        report->volume.clusters = scan.volume.clusters;
    }
}

std::string CheckSummary(const HealthScan& scan, const HealthJudgement& judgement) {
    std::string text;
    text += "Logical size: " +
            (scan.capacityRead ? SizeText(scan.logicalSectors) : std::string("not formatted")) +
            "\n";
    for (std::size_t b = 0; b < scan.banks.size(); ++b) text += BankLine(scan, judgement, b);
    if (scan.cisPage < 0) {
        text += "CIS page: none\n";
    } else if (!scan.cisDecoded) {
        text +=
            "CIS page: page " + std::to_string(scan.cisPage) + ", but it does not read as one\n";
    } else {
        std::string totals;
        for (std::uint8_t b = 0; b < scan.cis.banks; ++b) {
            totals += (b == 0 ? "" : ", ") + std::to_string(scan.cis.totals[b]);
        }
        text += "CIS page: page " + std::to_string(scan.cisPage) + ", bank totals " + totals +
                ", capacity " + SizeText(scan.cis.sectors) +
                (scan.cisTotalsAgree ? "" : " (its totals do not add up)") + "\n";
        text += std::string("Vendor page: ") + (scan.vendorPage ? "follows it" : "none") + "\n";
    }
    if (scan.volumeFound) {
        text += std::string("Volume: ") + (scan.volume.type == FatType::Fat16 ? "FAT16" : "FAT12") +
                ", " + SizeText(scan.volume.totalSectors) + ", " +
                std::to_string(scan.volume.sectorsPerCluster) + " sectors a cluster, " +
                std::to_string(scan.volume.clusters) + " clusters, label \"" + scan.volume.label +
                "\"\n";
    } else {
        text += "Volume: no FAT volume found\n";
    }
    return text + FlashLine(judgement);
}
