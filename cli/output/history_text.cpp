#include "cli/output/history_text.h"

#include <cstdio>

#include "cli/output/run_report.h"
#include "cli/output/size_text.h"
#include "cli/shared/json_values.h"

namespace {

constexpr int kHistorySchemaVersion = 1;

// "2026-12-08 09:30", local time.
std::string ShortTime(long long seconds) {
    std::string text = IsoLocalTime(seconds).substr(0, 16);
    if (text.size() > 10) text[10] = ' ';
    return text;
}

std::string GrowthText(const std::optional<std::int64_t>& growth) {
    if (!growth) return "-";
    return (*growth > 0 ? "+" : "") + std::to_string(*growth);
}

Json Banks(const HistoryEntry& e) {
    Json banks = Json::array();
    for (std::size_t b = 0; b < e.banks.size(); ++b) {
        const HistoryBank& bank = e.banks[b];
        Json bad = Json::array();
        for (const HistoryBadBlock& block : bank.bad) {
            bad.push_back({{"block", block.block},
                           {"reason", block.reason},
                           {"unmarkable", block.unmarkable}});
        }
        banks.push_back({{"bank", b},
                         {"device_code", bank.deviceCode},
                         {"blocks", bank.blocks},
                         {"bad_blocks", bank.badBlocks},
                         {"spare_blocks", NullUnless(bank.spareBlocks)},
                         {"bad", bad}});
    }
    return banks;
}

}  // namespace

std::string HistoryTable(const std::vector<HistoryEntry>& runs) {
    std::string table;
    char row[512];
    std::snprintf(row, sizeof row, "%-16s  %-20s %-12s %-16s %5s %6s  %-11s %s\n", "WHEN", "STICK",
                  "COMMAND", "RESULT", "BAD", "GROWTH", "VERDICT", "CAPACITY AFTER");
    table += row;
    for (const HistoryEntry& e : runs) {
        const std::string command = e.mode.empty() ? e.command : e.command + " " + e.mode;
        const std::string bad = std::to_string(e.badBlocks) + (e.whole ? "" : "?");
        const std::string capacity = e.capacityAfter ? SizeText(*e.capacityAfter) : "-";
        std::snprintf(row, sizeof row, "%-16s  %-20s %-12s %-16s %5s %6s  %-11s %s\n",
                      ShortTime(e.started).c_str(), e.stick.substr(0, 20).c_str(), command.c_str(),
                      e.result.substr(0, 16).c_str(), bad.c_str(), GrowthText(e.growth).c_str(),
                      e.verdict.empty() ? "-" : e.verdict.c_str(), capacity.c_str());
        table += row;
    }
    return table;
}

std::string HistoryJson(const std::vector<HistoryEntry>& runs) {
    Json list = Json::array();
    for (const HistoryEntry& e : runs) {
        list.push_back({{"id", e.id},
                        {"stick", e.stick},
                        {"serial", NullIfEmpty(e.serial)},
                        {"usb_path", NullIfEmpty(e.usbPath)},
                        {"node", NullIfEmpty(e.node)},
                        {"vendor", NullIfEmpty(e.vendor)},
                        {"product", NullIfEmpty(e.product)},
                        {"revision", NullIfEmpty(e.revision)},
                        {"started", IsoLocalTime(e.started)},
                        {"seconds", e.seconds},
                        {"command", e.command},
                        {"mode", NullIfEmpty(e.mode)},
                        {"result", e.result},
                        {"exit_code", e.exitCode},
                        {"whole", e.whole},
                        {"bad_blocks", e.badBlocks},
                        {"growth", NullUnless(e.growth)},
                        {"unmarkable_blocks", e.unmarkableBlocks},
                        {"capacity_before", NullUnless(e.capacityBefore)},
                        {"capacity_after", NullUnless(e.capacityAfter)},
                        {"cis_sectors", NullUnless(e.cisSectors)},
                        {"flash_holds_sectors", NullUnless(e.flashHoldsSectors)},
                        {"verdict", NullIfEmpty(e.verdict)},
                        {"verdict_reasons", e.verdictReasons},
                        {"backup_file", NullIfEmpty(e.backupFile)},
                        {"banks", Banks(e)}});
    }
    const Json json = {{"schema", kHistorySchemaVersion}, {"runs", list}};
    return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string PreviousRunText(const std::optional<HistoryEntry>& previous) {
    if (!previous) return "Previous run: none recorded";
    return "Previous run: " + std::to_string(previous->badBlocks) +
           (previous->badBlocks == 1 ? " bad block (" : " bad blocks (") + previous->command +
           ", " + ShortTime(previous->started) + ")";
}
