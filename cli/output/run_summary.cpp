#include "cli/output/run_summary.h"

#include <cstdio>
#include <map>

#include "cli/output/history_text.h"
#include "cli/output/size_text.h"
#include "cli/output/verdict_text.h"

namespace {

// A bank's bad blocks listed one by one up to this many; the report has them all.
constexpr std::size_t kListedPerBank = 16;

const char* ReasonWords(BadReason reason) {
    switch (reason) {
        case BadReason::Marked:
            return "marked";
        case BadReason::Erase:
            return "erase failed";
        case BadReason::PatternAscending:
            return "ascending test";
        case BadReason::Pattern55:
            return "0x55 test";
        case BadReason::PatternAA:
            return "0xAA test";
        case BadReason::NotFree:
            return "not free after erase";
    }
    return "marked";
}

std::string ResultLine(const RunReport& report) {
    const RunRecord& r = report.record;
    switch (r.end) {
        case RunEnd::Complete:
            return r.unmarkableBlocks != 0
                       ? "complete, but some bad blocks could not be marked (see below)"
                       : "complete: unplug the stick and plug it in again before using it";
        case RunEnd::Stopped:
            return "stopped";
        case RunEnd::Aborted:
            return "stopped at the question about damaged blocks";
        case RunEnd::Removed:
            return "the stick was pulled out during the format";
        case RunEnd::Unresponsive:
            return "the stick stopped answering";
        case RunEnd::WriteProtected:
            return "the stick is write-protected; nothing was erased";
        case RunEnd::Failed:
        case RunEnd::NotStarted:
            break;
    }
    return "failed";
}

// What a run that did not complete did to the data: how many blocks it erased.
std::string ErasedLine(const RunRecord& r) {
    if (r.end == RunEnd::Complete || r.end == RunEnd::NotStarted) return std::string();
    if (r.erasedBlocks == 0) return "Nothing was erased.\n";
    return "Erased: " + std::to_string(r.erasedBlocks) +
           (r.erasedBlocks == 1 ? " block" : " blocks") +
           " before the run ended; the data they held is gone.\n";
}

std::string OldPagesLine(const RunReport& report) {
    const RunRecord& r = report.record;
    if (r.oldCisPage < 0 || r.end == RunEnd::Complete || r.end == RunEnd::NotStarted) {
        return std::string();
    }
    const bool vendor = r.oldVendorPage >= 0;
    const std::string pages = vendor ? "The old CIS and vendor pages" : "The old CIS page";
    if (PagesLost(report)) {
        std::string line = pages + " could not be written back.";
        if (!report.backupFile.empty()) {
            line += " They are kept in " + report.backupFile +
                    ".\nPut them back with: " + report.restoreCommand;
        }
        return line + "\n";
    }
    if (r.cisFate == PageFate::Restored) return pages + (vendor ? " are" : " is") + " back.\n";
    if (r.cisFate == PageFate::Untouched) {
        return pages + (vendor ? " were" : " was") + " not touched.\n";
    }
    return std::string();
}

}  // namespace

std::string FormatSummary(const RunReport& report) {
    const RunRecord& r = report.record;
    std::string text = "Result: " + ResultLine(report) + "\n";
    if (!report.message.empty() && r.end != RunEnd::Complete) {
        text += "The stick said: " + report.message + "\n";
    }
    char line[160];
    std::snprintf(line, sizeof line, "Time: %.0f s\n", report.elapsedSeconds);
    text += line;

    std::map<BadReason, std::uint32_t> byReason;
    for (const BankRecord& bank : r.banks) {
        for (const BadBlock& bad : bank.bad) ++byReason[bad.reason];
    }
    std::string reasons;
    for (const auto& [reason, count] : byReason) {
        reasons +=
            (reasons.empty() ? "" : ", ") + std::to_string(count) + " " + ReasonWords(reason);
    }
    text += "Bad blocks: " + std::to_string(r.badBlocks) +
            (reasons.empty() ? "" : " (" + reasons + ")") + "\n";
    for (std::size_t b = 0; b < r.banks.size(); ++b) {
        const BankRecord& bank = r.banks[b];
        if (bank.bad.empty()) continue;
        std::string list;
        for (std::size_t i = 0; i < bank.bad.size() && i < kListedPerBank; ++i) {
            list += (i == 0 ? "" : ", ") + std::to_string(bank.bad[i].block) + " (" +
                    ReasonWords(bank.bad[i].reason) + ")";
        }
        if (bank.bad.size() > kListedPerBank) {
            list += " and " + std::to_string(bank.bad.size() - kListedPerBank) + " more";
        }
        text += "  bank " + std::to_string(b) + ": " + list + "\n";
    }

    text += "Capacity before: " +
            (report.capacityBeforeKnown ? SizeText(report.capacityBeforeSectors)
                                        : std::string("not formatted")) +
            "\n";
    if (report.capacityAfterKnown) {
        text += "Capacity after: " + SizeText(report.capacityAfterSectors) + "\n";
    }
    if (r.unmarkableBlocks != 0) {
        std::string blocks;
        for (std::size_t b = 0; b < r.banks.size(); ++b) {
            for (std::uint32_t block : r.banks[b].unmarkable) {
                blocks += (blocks.empty() ? "" : ", ") + std::to_string(block) + " (bank " +
                          std::to_string(b) + ")";
            }
        }
        text += "Warning: " + std::to_string(r.unmarkableBlocks) +
                " bad block(s) could not be marked: " + blocks +
                ". The stick may use them again; it is not to be trusted with data.\n";
    }
    if (r.end == RunEnd::Complete && r.vendorFate == PageFate::Lost) {
        text += "Warning: the vendor page could not be moved behind the new CIS page.\n";
    }
    text += ErasedLine(r);
    text += OldPagesLine(report);
    text += PreviousRunText(report.previous) + "\n";
    if (report.health) text += VerdictLines(*report.health);
    return text;
}
