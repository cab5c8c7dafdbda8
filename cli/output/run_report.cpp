#include "cli/output/run_report.h"

#include <cstdio>
#include <ctime>

#include "cli/output/verdict_text.h"
#include "cli/shared/json_values.h"
#include "cli/shared/local_time.h"

#ifndef BREVANT_VERSION
#define BREVANT_VERSION "unknown"
#endif

namespace {

Json Settings(const FormatSettings& settings) {
    Json json = Json::object();
    for (const SettingKey& key : kSettingKeys) json[key.name] = settings.*key.member;
    return json;
}

std::string Hex2(std::uint8_t value) {
    static const char digits[] = "0123456789abcdef";
    return std::string("0x") + digits[value >> 4] + digits[value & 0xF];
}

Json Banks(const RunReport& report) {
    Json banks = Json::array();
    for (std::size_t b = 0; b < report.record.banks.size(); ++b) {
        const BankRecord& bank = report.record.banks[b];
        Json bad = Json::array();
        for (const BadBlock& block : bank.bad) {
            bad.push_back({{"block", block.block}, {"reason", BadReasonName(block.reason)}});
        }
        Json entry = {{"bank", b},
                      {"device_code", Hex2(bank.deviceCode)},
                      {"blocks", bank.blocks},
                      {"pages_per_block", bank.pagesPerBlock},
                      {"bad_blocks", bad},
                      {"unmarkable_blocks", bank.unmarkable},
                      {"data_blocks", bank.dataBlocks},
                      {"scanned", bank.scanned}};
        if (report.command == "check") entry["blocks_holding_data"] = bank.holdingData.size();
        banks.push_back(entry);
    }
    return banks;
}

const char* FateName(PageFate fate) {
    switch (fate) {
        case PageFate::None:
            return "none";
        case PageFate::Untouched:
            return "untouched";
        case PageFate::Restored:
            return "restored";
        case PageFate::Lost:
            return "lost";
    }
    return "none";
}

Json Cis(const RunReport& report) {
    const ReportCis& cis = report.cis;
    Json totals = Json::array();
    for (std::uint8_t b = 0; b < cis.banks; ++b) totals.push_back(cis.totals[b]);
    Json json = {{"page", cis.page >= 0 ? Json(cis.page) : Json(nullptr)},
                 {"bank_totals", totals},
                 {"sectors", cis.page >= 0 ? Json(cis.sectors) : Json(nullptr)}};
    if (report.command == "format") {
        const RunRecord& r = report.record;
        json["old_cis_page"] = r.oldCisPage >= 0 ? Json(r.oldCisPage) : Json(nullptr);
        json["old_vendor_page"] = r.oldVendorPage >= 0 ? Json(r.oldVendorPage) : Json(nullptr);
        json["old_cis_page_fate"] = FateName(r.cisFate);
        json["old_vendor_page_fate"] = FateName(r.vendorFate);
        json["backup_file"] = NullIfEmpty(report.backupFile);
        json["restore_command"] = NullIfEmpty(report.restoreCommand);
    } else {
        json["vendor_page"] = cis.hasVendorPage;
    }
    return json;
}

Json Volume(const ReportVolume& volume) {
    if (!volume.present) return Json(nullptr);
    return {{"type", volume.fat16 ? "FAT16" : "FAT12"},
            {"label", volume.label},
            {"sectors", volume.sectors},
            {"sectors_per_cluster", volume.sectorsPerCluster},
            {"clusters", volume.clusters}};
}

}  // namespace

bool PagesLost(const RunReport& report) {
    const RunRecord& r = report.record;
    return r.end != RunEnd::Complete &&
           (r.cisFate == PageFate::Lost || r.vendorFate == PageFate::Lost);
}

const char* ResultName(RunEnd end) {
    switch (end) {
        case RunEnd::Complete:
            return "complete";
        case RunEnd::Stopped:
        case RunEnd::Aborted:
            return "cancelled";
        case RunEnd::Removed:
            return "removed";
        case RunEnd::Unresponsive:
            return "unresponsive";
        case RunEnd::WriteProtected:
            return "write-protected";
        case RunEnd::NotStarted:
        case RunEnd::Failed:
            break;
    }
    return "failed";
}

const char* BadReasonName(BadReason reason) {
    switch (reason) {
        case BadReason::Marked:
            return "marked";
        case BadReason::Erase:
            return "erase";
        case BadReason::PatternAscending:
            return "pattern-ascending";
        case BadReason::Pattern55:
            return "pattern-0x55";
        case BadReason::PatternAA:
            return "pattern-0xaa";
        case BadReason::NotFree:
            return "not-free";
    }
    return "marked";
}

std::string IsoLocalTime(long long secondsSinceEpoch) {
    const std::time_t when = static_cast<std::time_t>(secondsSinceEpoch);
    const std::tm local = LocalTime(when);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    // ISO 8601's extended form of the offset, +01:00 (Windows' %z gives the zone's name).
    const long offset = UtcOffsetSeconds(when);
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    char zone[48];
    std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return std::string(text) + zone;
}

std::string ReportJson(const RunReport& report) {
    Json json;
    json["schema"] = kReportSchemaVersion;
    json["program"] = {{"name", "brevant"}, {"version", BREVANT_VERSION}};
    json["command"] = report.command;
    json["mode"] =
        report.hasMode ? Json(report.mode == FormatMode::Full ? "full" : "quick") : Json(nullptr);
    json["settings"] = Settings(report.settings);
    json["started"] = report.started;
    json["elapsed_s"] = report.elapsedSeconds;
    json["device"] = {{"node", report.device.node},
                      {"vendor", report.device.vendor},
                      {"product", report.device.product},
                      {"revision", report.device.revision},
                      {"serial", NullIfEmpty(report.device.serial)}};
    json["result"] = report.result;
    json["exit_code"] = report.exitCode;
    json["message"] = report.message;
    json["capacity_before_sectors"] =
        NullUnless(report.capacityBeforeKnown, report.capacityBeforeSectors);
    json["capacity_after_sectors"] =
        NullUnless(report.capacityAfterKnown, report.capacityAfterSectors);
    json["bad_blocks"] = report.record.badBlocks;
    json["unmarkable_blocks"] = report.record.unmarkableBlocks;
    json["erased_blocks"] = report.record.erasedBlocks;
    json["banks"] = Banks(report);
    json["cis"] = Cis(report);
    json["volume"] = Volume(report.volume);
    json["commands"] = report.commands;
    if (report.health) {
        AddVerdictJson(*report.health, &json);
    } else {
        json["verdict"] = nullptr;
        json["verdict_reasons"] = Json::array();
        json["health"] = nullptr;
    }
    json["previous_run"] = report.previous
                               ? Json{{"started", IsoLocalTime(report.previous->started)},
                                      {"command", report.previous->command},
                                      {"bad_blocks", report.previous->badBlocks}}
                               : Json(nullptr);
    // Replacement of invalid UTF-8 keeps a stick's odd bytes from breaking the whole report.
    return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}
