#include "cli/output/history_entry.h"

#include <algorithm>
#include <map>

#include "cli/output/verdict_text.h"

std::string HistoryStickKey(const std::string& serial, const std::string& usbPath,
                            const std::string& node) {
    if (!serial.empty()) return serial;
    return usbPath.empty() ? node : usbPath;
}

void OrderWithGrowth(std::vector<HistoryEntry>* runs) {
    std::stable_sort(runs->begin(), runs->end(), [](const HistoryEntry& a, const HistoryEntry& b) {
        return a.started != b.started ? a.started < b.started : a.id < b.id;
    });
    // In the order each stick's runs happened: each whole run against the one before it.
    std::map<std::string, std::uint32_t> lastWhole;
    for (HistoryEntry& e : *runs) {
        if (!e.whole) continue;
        auto before = lastWhole.find(e.stick);
        if (before != lastWhole.end()) {
            e.growth = static_cast<std::int64_t>(e.badBlocks) - before->second;
        }
        lastWhole[e.stick] = e.badBlocks;
    }
    std::reverse(runs->begin(), runs->end());
}

HistoryEntry HistoryEntryOfReport(const RunReport& report, long long startedSeconds,
                                  const HealthJudgement* judgement, const std::string& usbPath,
                                  const std::string& backupFile) {
    HistoryEntry e;
    const DeviceIdentity& id = report.device;
    e.serial = id.serial;
    e.usbPath = usbPath.empty() ? id.node : usbPath;
    e.node = id.node;
    e.stick = HistoryStickKey(e.serial, e.usbPath, e.node);
    e.vendor = id.vendor;
    e.product = id.product;
    e.revision = id.revision;
    e.started = startedSeconds;
    e.seconds = report.elapsedSeconds;
    e.command = report.command;
    if (report.hasMode) e.mode = report.mode == FormatMode::Full ? "full" : "quick";
    e.result = report.result;
    e.exitCode = report.exitCode;
    const RunRecord& r = report.record;
    e.whole = !r.banks.empty() && std::all_of(r.banks.begin(), r.banks.end(),
                                              [](const BankRecord& b) { return b.scanned; });
    e.badBlocks = r.badBlocks;
    e.unmarkableBlocks = r.unmarkableBlocks;
    if (report.capacityBeforeKnown) e.capacityBefore = report.capacityBeforeSectors;
    if (report.capacityAfterKnown) e.capacityAfter = report.capacityAfterSectors;
    if (report.command == "check" && report.cis.page >= 0) e.cisSectors = report.cis.sectors;
    e.backupFile = backupFile;
    for (std::size_t b = 0; b < r.banks.size(); ++b) {
        const BankRecord& bank = r.banks[b];
        HistoryBank h;
        h.deviceCode = bank.deviceCode;
        h.blocks = bank.blocks;
        h.badBlocks = static_cast<std::uint32_t>(bank.bad.size());
        for (const BadBlock& bad : bank.bad) {
            const bool unmarkable = std::find(bank.unmarkable.begin(), bank.unmarkable.end(),
                                              bad.block) != bank.unmarkable.end();
            h.bad.push_back({bad.block, BadReasonName(bad.reason), unmarkable});
        }
        if (judgement != nullptr && judgement->judged && b < judgement->banks.size()) {
            h.spareBlocks = judgement->banks[b].spareBlocks;
        }
        e.banks.push_back(h);
    }
    if (judgement != nullptr) {
        if (!judgement->banks.empty()) e.flashHoldsSectors = judgement->flashHoldsSectors;
        if (judgement->judged) e.verdict = VerdictName(judgement->verdict);
        e.verdictReasons = VerdictReasons(*judgement);
    }
    return e;
}
