// The verdict in words and in the report's JSON.
#include "cli/output/verdict_text.h"

#include <gtest/gtest.h>

#include <string>

#include "format/health_thresholds.h"

namespace {

// One read-through bank of `blocks` blocks of 32 pages with `bad` of them bad.
HealthFacts Bank(std::uint32_t blocks, std::uint32_t bad) {
    HealthFacts facts;
    BankRecord bank;
    bank.deviceCode = 0x75;
    bank.blocks = static_cast<std::uint16_t>(blocks);
    bank.pagesPerBlock = 32;
    bank.scanned = true;
    for (std::uint32_t i = 0; i < bad; ++i) bank.bad.push_back({blocks - 1 - i});
    facts.banks.push_back(bank);
    return facts;
}

TEST(VerdictText, ACounterfeitNamesBothSizesAndWhatAFormatGives) {
    HealthFacts facts = Bank(1024, 0);
    facts.announced.readCapacity = 16777216;
    facts.announced.cisPage = 16777216;
    const HealthJudgement j = JudgeHealth(facts);
    EXPECT_EQ(CounterfeitText(j),
              "counterfeit: announces 8192.0 MiB (16777216 sectors), its flash holds 15.6 MiB "
              "(32000 sectors)");
    const std::vector<std::string> reasons = VerdictReasons(j);
    ASSERT_EQ(reasons.size(), 2u);
    EXPECT_EQ(reasons[0],
              "its logical size (READ CAPACITY) announces 8192.0 MiB (16777216 sectors), its "
              "flash holds at most 15.6 MiB (32000 sectors)");
    EXPECT_EQ(reasons[1].substr(0, 31), "its CIS page announces 8192.0 M");
    EXPECT_EQ(VerdictAdvice(j),
              "a format gives it the size its flash holds, 15.6 MiB (32000 sectors); it will "
              "never hold 8192.0 MiB (16777216 sectors)");

    nlohmann::ordered_json report = nlohmann::ordered_json::object();
    AddVerdictJson(j, &report);
    EXPECT_EQ(report["verdict"], "counterfeit");
    EXPECT_EQ(report["verdict_reasons"].size(), 2u);
    EXPECT_EQ(report["health"]["flash_sectors"], 32768);
    EXPECT_EQ(report["health"]["flash_holds_sectors"], 32000);
    EXPECT_EQ(report["health"]["format_sectors"], 32000);
    EXPECT_EQ(report["health"]["announced_sectors"]["read_capacity"], 16777216);
    EXPECT_EQ(report["health"]["groups_from"], "format");
    EXPECT_EQ(report["health"]["limits"]["worn_bad_per_mille"], kWornBadPerMille);
    EXPECT_EQ(CounterfeitText(JudgeHealth(Bank(1024, 0))), "");
}

TEST(VerdictText, ABankJustAboveALimitDoesNotReadAsTheLimit) {
    // 41 of 2048 is 2.002 %: shown with the decimals that tell it from 2 %.
    const HealthJudgement worn = JudgeHealth(Bank(2048, 41));
    ASSERT_EQ(worn.verdict, Verdict::Worn);
    EXPECT_EQ(VerdictReasons(worn).at(0),
              "bank 0: 41 of 2048 blocks bad (2.002 %), more than the 2 % its flash's maker "
              "allows for the part's whole life");
    const HealthJudgement retire = JudgeHealth(Bank(1024, 60));
    EXPECT_EQ(VerdictReasons(retire).at(0),
              "bank 0: 60 of 1024 blocks bad (5.9 %), more than the 4 % from which a stick is "
              "retired: its flash is failing");
    EXPECT_EQ(VerdictLines(JudgeHealth(Bank(1024, 3))),
              "Verdict: healthy\n"
              "  bank 0: 3 of 1024 blocks bad (0.3 %), within the 2 % its flash's maker allows\n"
              "Advice: a Quick format is enough\n");
}

TEST(VerdictText, WithoutAVerdictTheReportSaysNull) {
    HealthFacts facts = Bank(1024, 0);
    facts.banks[0].scanned = false;
    const HealthJudgement j = JudgeHealth(facts);
    nlohmann::ordered_json report = nlohmann::ordered_json::object();
    AddVerdictJson(j, &report);
    EXPECT_TRUE(report["verdict"].is_null());
    EXPECT_TRUE(report["verdict_reasons"].empty());
    EXPECT_TRUE(report["health"]["format_sectors"].is_null());
    EXPECT_EQ(VerdictLines(j), "");
}

}  // namespace
