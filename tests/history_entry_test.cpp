// A stick's runs as the history keeps them: two formats and a check of one simulated stick whose
// block wears out between the formats.
#include "cli/output/history_entry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "cli/output/history_text.h"
#include "format/health_scan.h"
#include "format/physical_format.h"
#include "tests/fake_run.h"
#include "tests/report_schema.h"
#include "tests/sim_stick.h"
#include "tests/temp_dir.h"

namespace {

// The worn example stick, with block 500 failing from its second erase on.
std::string WearingStick() {
    std::ifstream in(std::string(BREVANT_SOURCE_DIR) + "/sim/examples/worn-16mb.txt");
    std::stringstream text;
    text << in.rdbuf() << "    erase-fails 0:500 after=1\n";
    return text.str();
}

DeviceIdentity Stick() {
    DeviceIdentity id;
    id.node = "sim:E";
    id.vendor = "GENERIC";
    id.product = "USB DISK";
    id.serial = "WORN16M00030";
    return id;
}

RunReport FormatReport(const RunRecord& record) {
    RunReport report;
    report.command = "format";
    report.hasMode = true;
    report.mode = FormatMode::Full;
    report.device = Stick();
    report.record = record;
    report.result = ResultName(record.end);
    report.capacityAfterKnown = record.volumeSectors != 0;
    report.capacityAfterSectors = record.volumeSectors;
    return report;
}

RunReport CheckReport(const HealthScan& scan) {
    RunReport report;
    report.command = "check";
    report.device = Stick();
    report.result = "complete";
    report.record.banks = scan.banks;
    for (const BankRecord& bank : scan.banks) {
        report.record.badBlocks += static_cast<std::uint32_t>(bank.bad.size());
    }
    report.capacityBeforeKnown = scan.capacityRead;
    report.capacityBeforeSectors = scan.logicalSectors;
    report.cis.page = scan.cisPage;
    report.cis.sectors = scan.cis.sectors;
    return report;
}

TEST(HistoryEntry, TwoFormatsAndACheckOfOneStickComeBackWithTheirCounts) {
    SimStickMachine machine;
    ASSERT_TRUE(machine.Plug(WearingStick()));
    TempDir dir;
    std::string reason;
    auto store = HistoryStore::Open(dir.Path() + "/history.sqlite", &reason);
    ASSERT_NE(store, nullptr) << reason;

    for (long long started : {1000, 2000}) {
        FakeRun run;
        ASSERT_EQ(RunPhysicalFormat(run, *machine.reader, kMediaUsbDisk, FormatMode::Quick),
                  FormatResult::CompleteReplug);
        const HealthJudgement j = JudgeHealth(HealthFactsOfRun(run.record));
        HistoryEntry entry = HistoryEntryOfReport(FormatReport(run.record), started, &j, "",
                                                  dir.Path() + "/old.cis");
        ASSERT_TRUE(store->Record(&entry, &reason)) << reason;
        machine.bus->Replug();
    }
    const HealthScan scan = ScanHealth(*machine.stick, nullptr);
    const HealthJudgement j = JudgeHealth(HealthFactsOfScan(scan));
    HistoryEntry check = HistoryEntryOfReport(CheckReport(scan), 3000, &j, "1-1.2", "");
    ASSERT_TRUE(store->Record(&check, &reason)) << reason;

    std::vector<HistoryEntry> runs;
    ASSERT_TRUE(store->Runs("WORN16M00030", &runs, &reason)) << reason;
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].command, "check");
    EXPECT_EQ(runs[0].badBlocks, 31u);
    EXPECT_EQ(runs[0].growth, std::optional<std::int64_t>(0));
    EXPECT_EQ(runs[0].usbPath, "1-1.2");
    EXPECT_EQ(runs[0].mode, "");
    EXPECT_TRUE(runs[0].cisSectors.has_value());
    EXPECT_EQ(runs[1].command, "format");
    EXPECT_EQ(runs[1].badBlocks, 31u);
    EXPECT_EQ(runs[1].growth, std::optional<std::int64_t>(1));
    EXPECT_EQ(runs[2].badBlocks, 30u);
    EXPECT_FALSE(runs[2].growth.has_value());
    for (const HistoryEntry& e : runs) {
        EXPECT_EQ(e.stick, "WORN16M00030");
        EXPECT_TRUE(e.whole);
        EXPECT_EQ(e.verdict, "worn");
        EXPECT_FALSE(e.verdictReasons.empty());
        EXPECT_EQ(e.flashHoldsSectors, std::optional<std::uint32_t>(32000));
        ASSERT_EQ(e.banks.size(), 1u);
        EXPECT_EQ(e.banks[0].bad.size(), e.badBlocks);
        EXPECT_TRUE(e.banks[0].spareBlocks.has_value());
    }
    // The block that wore out, with its reason; the formats kept their backup file.
    const auto& worn = runs[1].banks[0].bad;
    const auto it = std::find_if(worn.begin(), worn.end(),
                                 [](const HistoryBadBlock& b) { return b.block == 500; });
    ASSERT_NE(it, worn.end());
    EXPECT_EQ(it->reason, "erase");
    EXPECT_EQ(runs[1].backupFile, dir.Path() + "/old.cis");
    EXPECT_EQ(runs[1].mode, "full");
    EXPECT_EQ(runs[1].usbPath, "sim:E");
    // One block fewer in its group: one block of 32 sectors less to offer.
    ASSERT_TRUE(runs[1].capacityAfter.has_value() && runs[2].capacityAfter.has_value());
    EXPECT_EQ(*runs[1].capacityAfter + 32, *runs[2].capacityAfter);

    // As `history SERIAL --json` and the table show them.
    const std::string json = HistoryJson(runs);
    EXPECT_EQ(SchemaErrors(json, "cli/output/history.schema.json"), "");
    const auto parsed = nlohmann::json::parse(json);
    ASSERT_EQ(parsed["runs"].size(), 3u);
    EXPECT_EQ(parsed["runs"][0]["bad_blocks"], 31);
    EXPECT_EQ(parsed["runs"][0]["growth"], 0);
    EXPECT_EQ(parsed["runs"][1]["growth"], 1);
    EXPECT_TRUE(parsed["runs"][2]["growth"].is_null());
    EXPECT_EQ(parsed["runs"][1]["verdict"], "worn");
    EXPECT_EQ(parsed["runs"][2]["banks"][0]["bad"].size(), 30u);
    const std::string table = HistoryTable(runs);
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 4);
    EXPECT_NE(table.find("format full"), std::string::npos) << table;
    EXPECT_NE(table.find("   +1  worn"), std::string::npos) << table;
    std::optional<HistoryEntry> previous;
    ASSERT_TRUE(store->Previous("WORN16M00030", &previous, &reason)) << reason;
    EXPECT_EQ(PreviousRunText(previous).substr(0, 36), "Previous run: 31 bad blocks (check, ");
    EXPECT_EQ(PreviousRunText(std::nullopt), "Previous run: none recorded");
}

}  // namespace
