// The JSON report of a run, checked against its schema and read back.
#include "cli/output/run_report.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>

#include "tests/report_schema.h"

namespace {

RunReport FormatReport() {
    RunReport report;
    report.command = "format";
    report.hasMode = true;
    report.mode = FormatMode::Full;
    report.started = IsoLocalTime(1796720400);
    report.elapsedSeconds = 12.5;
    std::array<std::uint8_t, kInquiryLength> inquiry{};
    const char standard[] = "\x00\x80\x02\x02\x1F\x00\x00\x00GENERIC USB FLASH DISK  1.00";
    std::memcpy(inquiry.data(), standard, sizeof standard - 1);
    inquiry[20] = 0x07;  // a control byte in the product text is left out
    report.device = IdentityOfInquiry("sim:E", inquiry);
    report.result = ResultName(RunEnd::Complete);
    report.message = "Format is complete.";
    report.capacityBeforeKnown = true;
    report.capacityBeforeSectors = 128000;
    report.capacityAfterKnown = true;
    report.capacityAfterSectors = 125000;
    BankRecord bank;
    bank.deviceCode = 0x76;
    bank.blocks = 4096;
    bank.pagesPerBlock = 32;
    bank.bad = {{37, BadReason::Marked}, {812, BadReason::Erase}, {2077, BadReason::Pattern55}};
    bank.unmarkable = {2077};
    bank.dataBlocks = 4050;
    bank.scanned = true;
    report.record.banks = {bank};
    report.record.badBlocks = 3;
    report.record.unmarkableBlocks = 1;
    report.record.oldCisPage = 0;
    report.record.oldVendorPage = 1;
    report.cis.page = 32;
    report.cis.banks = 1;
    report.cis.totals[0] = 129600;
    report.cis.sectors = 129600;
    report.volume.present = true;
    report.volume.fat16 = true;
    report.volume.sectors = 129339;
    report.volume.sectorsPerCluster = 4;
    report.volume.clusters = 32235;
    report.commands = 9999;
    return report;
}

TEST(RunReport, AFormatReportValidatesAndSaysWhatHappened) {
    const std::string text = ReportJson(FormatReport());
    EXPECT_EQ(SchemaErrors(text), "");
    const auto json = nlohmann::json::parse(text);
    EXPECT_EQ(json["schema"], 2);
    EXPECT_EQ(json["program"]["name"], "brevant");
    EXPECT_EQ(json["mode"], "full");
    EXPECT_EQ(json["settings"]["55PtnTest"], 1);
    EXPECT_EQ(json["settings"]["ForceTestBad"], 0);
    EXPECT_EQ(json["device"]["vendor"], "GENERIC");
    EXPECT_EQ(json["device"]["product"], "USB LASH DISK");
    EXPECT_EQ(json["device"]["revision"], "1.00");
    EXPECT_TRUE(json["device"]["serial"].is_null());
    EXPECT_EQ(json["banks"][0]["device_code"], "0x76");
    EXPECT_EQ(json["banks"][0]["bad_blocks"][1]["block"], 812);
    EXPECT_EQ(json["banks"][0]["bad_blocks"][1]["reason"], "erase");
    EXPECT_EQ(json["banks"][0]["bad_blocks"][2]["reason"], "pattern-0x55");
    EXPECT_EQ(json["banks"][0]["unmarkable_blocks"][0], 2077);
    EXPECT_EQ(json["cis"]["old_vendor_page"], 1);
    EXPECT_EQ(json["volume"]["type"], "FAT16");
    EXPECT_EQ(json["capacity_after_sectors"], 125000);
    const std::string started = json["started"];
    EXPECT_EQ(started.size(), 25u) << started;
}

TEST(RunReport, WhatARunDidNotLearnIsNull) {
    RunReport report;  // a run that failed before it found anything
    report.command = "format";
    report.hasMode = true;
    report.started = IsoLocalTime(0);
    report.result = ResultName(RunEnd::NotStarted);
    report.exitCode = 1;
    const std::string text = ReportJson(report);
    EXPECT_EQ(SchemaErrors(text), "");
    const auto json = nlohmann::json::parse(text);
    EXPECT_EQ(json["result"], "failed");
    EXPECT_TRUE(json["capacity_before_sectors"].is_null());
    EXPECT_TRUE(json["cis"]["page"].is_null());
    EXPECT_TRUE(json["volume"].is_null());
    EXPECT_TRUE(json["banks"].empty());
}

TEST(RunReport, TheSchemaRefusesWhatIsNotAReport) {
    auto json = nlohmann::json::parse(ReportJson(FormatReport()));
    json["result"] = "sort of";
    EXPECT_NE(SchemaErrors(json.dump()), "");
    json = nlohmann::json::parse(ReportJson(FormatReport()));
    json["banks"][0]["bad_blocks"][0]["reason"] = "tired";
    EXPECT_NE(SchemaErrors(json.dump()), "");
    json = nlohmann::json::parse(ReportJson(FormatReport()));
    json.erase("commands");
    EXPECT_NE(SchemaErrors(json.dump()), "");
}

// The time a run started, in the local time with its offset from UTC written out, whatever zone
// the machine is in (worked out, not taken from %z, which Windows writes as the zone's name).
TEST(RunReport, TheStartIsLocalTimeWithItsOffset) {
    const char* before = std::getenv("TZ");
    const std::string kept = before != nullptr ? before : "";
    const struct Zone {
        const char* tz;
        const char* iso;
    } zones[] = {
        {"UTC0", "2026-12-08T09:00:00+00:00"},
        {"IST-5:30", "2026-12-08T14:30:00+05:30"},
        {"NST3:30", "2026-12-08T05:30:00-03:30"},
    };
    for (const Zone& zone : zones) {
        setenv("TZ", zone.tz, 1);
        tzset();
        EXPECT_EQ(IsoLocalTime(1796720400), zone.iso) << zone.tz;
    }
    if (before != nullptr) {
        setenv("TZ", kept.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST(RunReport, EveryEndHasAResultWord) {
    EXPECT_STREQ(ResultName(RunEnd::Stopped), "cancelled");
    EXPECT_STREQ(ResultName(RunEnd::Aborted), "cancelled");
    EXPECT_STREQ(ResultName(RunEnd::Removed), "removed");
    EXPECT_STREQ(ResultName(RunEnd::Unresponsive), "unresponsive");
    EXPECT_STREQ(ResultName(RunEnd::WriteProtected), "write-protected");
    EXPECT_STREQ(ResultName(RunEnd::Failed), "failed");
}

}  // namespace
