// The verdict on a stick's health: over simulated sticks whose truth the description sets, and at
// the edges of each limit.
#include "format/health_verdict.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "format/health_scan.h"
#include "format/health_thresholds.h"
#include "format/physical_format.h"
#include "sim/sim_bus.h"
#include "tests/fake_run.h"
#include "tests/sim_stick.h"

namespace {

// 16 MiB of flash (73h: 1024 blocks of 32 pages) can hold four groups of 250 data blocks.
constexpr std::uint32_t kSmallFlashHolds = 4 * 250 * 32;

class SimStick : public ::testing::Test {
  protected:
    void Plug(const std::string& descriptionOrExample) {
        ASSERT_TRUE(machine_.Plug(descriptionOrExample));
        bus_ = machine_.bus.get();
    }
    HealthJudgement Judge() {
        return JudgeHealth(HealthFactsOfScan(ScanHealth(kMediaUsbDisk, nullptr)));
    }
    // Every command the stick received only reads.
    bool OnlyReadsSent() const {
        for (const sim::TraceEntry& e : bus_->Trace()) {
            switch (e.cdb[0]) {
                case 0x2A:  // WRITE(10)
                case 0xC1:  // fill
                case 0xC4:  // load the CIS page
                case 0xE9:  // write page
                case 0xF1:  // mark bad
                case 0xF2:  // erase
                case 0x1B:  // stop
                    return false;
                default:
                    break;
            }
        }
        return true;
    }

    SimStickMachine machine_;
    sim::SimBus* bus_ = nullptr;
};

TEST_F(SimStick, ACisPageClaimingFarMoreThanItsFlashIsCounterfeit) {
    Plug("counterfeit-8gib.txt");
    const HealthJudgement j = Judge();
    ASSERT_TRUE(j.judged);
    EXPECT_EQ(j.verdict, Verdict::Counterfeit);
    EXPECT_EQ(j.flashSectors, 1024u * 32);
    EXPECT_EQ(j.flashHoldsSectors, kSmallFlashHolds);
    ASSERT_GE(j.findings.size(), 2u);
    // Both READ CAPACITY and the CIS page announce 8 GiB.
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(j.findings[i].kind, FindingKind::AnnouncesMore);
        EXPECT_EQ(j.findings[i].announcedSectors, 16777216u);
        EXPECT_EQ(j.findings[i].flashHoldsSectors, kSmallFlashHolds);
    }
    EXPECT_EQ(j.findings[0].by, Announcer::ReadCapacity);
    EXPECT_EQ(j.findings[1].by, Announcer::CisPage);
    // What a format gives it: its true size.
    EXPECT_TRUE(j.formatSectorsKnown);
    EXPECT_EQ(j.formatSectors, kSmallFlashHolds);
    EXPECT_TRUE(OnlyReadsSent());
}

TEST_F(SimStick, ACounterfeitIsToldWithoutReadingTheBlocks) {
    Plug("counterfeit-8gib.txt");
    const HealthScan look = LookWithoutBlocks(kMediaUsbDisk);
    EXPECT_LT(bus_->Trace().size(), 40u);
    const HealthJudgement j = JudgeHealth(HealthFactsOfScan(look));
    EXPECT_TRUE(j.judged);
    EXPECT_EQ(j.verdict, Verdict::Counterfeit);
    EXPECT_FALSE(j.formatSectorsKnown);
    EXPECT_TRUE(OnlyReadsSent());
}

TEST_F(SimStick, AGenuineStickIsNotJudgedWithoutReadingTheBlocks) {
    Plug("worn-16mb.txt");
    const HealthJudgement j = JudgeHealth(HealthFactsOfScan(LookWithoutBlocks(kMediaUsbDisk)));
    EXPECT_FALSE(j.judged);
    EXPECT_TRUE(j.findings.empty());
    EXPECT_EQ(j.flashHoldsSectors, kSmallFlashHolds);
}

TEST_F(SimStick, ThirtyBadBlocksOfAThousandAreWorn) {
    Plug("worn-16mb.txt");
    const HealthJudgement j = Judge();
    ASSERT_TRUE(j.judged);
    EXPECT_EQ(j.verdict, Verdict::Worn);
    ASSERT_FALSE(j.findings.empty());
    EXPECT_EQ(j.findings[0].kind, FindingKind::WornBank);
    EXPECT_EQ(j.findings[0].bank, 0);
    EXPECT_EQ(j.findings[0].count, 30u);
    EXPECT_EQ(j.findings[0].blocks, 1024u);
    EXPECT_EQ(j.findings[0].perMilleLimit, kWornBadPerMille);
    ASSERT_EQ(j.banks.size(), 1u);
    EXPECT_EQ(j.banks[0].badBlocks, 30u);
    EXPECT_TRUE(j.groupsFromCisPage);
    // Its CIS page announces no more than the flash holds.
    ASSERT_TRUE(j.announced.cisPage.has_value());
    EXPECT_LE(*j.announced.cisPage, j.flashHoldsSectors);
}

TEST_F(SimStick, SixtyBadBlocksOfAThousandAreToBeRetired) {
    Plug("failing-16mb.txt");
    const HealthJudgement j = Judge();
    ASSERT_TRUE(j.judged);
    EXPECT_EQ(j.verdict, Verdict::Retire);
    ASSERT_FALSE(j.findings.empty());
    EXPECT_EQ(j.findings[0].kind, FindingKind::FailingBank);
    EXPECT_EQ(j.findings[0].count, 60u);
    EXPECT_EQ(j.findings[0].perMilleLimit, kRetireBadPerMille);
}

TEST_F(SimStick, AFreshStickIsHealthyWithItsSparesCounted) {
    Plug("reader\nunit DS drive=E\nbanks 73 73\nbad 0:300 1:7\ncis page=0\n");
    const HealthJudgement j = Judge();
    ASSERT_TRUE(j.judged);
    EXPECT_EQ(j.verdict, Verdict::Healthy);
    ASSERT_EQ(j.findings.size(), 1u);
    EXPECT_EQ(j.findings[0].kind, FindingKind::WithinLimits);
    EXPECT_EQ(j.findings[0].count, 1u);
    EXPECT_EQ(j.flashHoldsSectors, 2 * kSmallFlashHolds);
    EXPECT_EQ(j.announced.cisPage, 2 * kSmallFlashHolds);
    ASSERT_EQ(j.banks.size(), 2u);
    // Bank 0: 1024 blocks, 1 bad, the CIS block, 1000 data blocks: 22 spares; its first group
    // keeps 5 (the CIS block is in it).
    EXPECT_EQ(j.banks[0].dataBlocks, 1000u);
    EXPECT_EQ(j.banks[0].spareBlocks, 1024 - 1 - 1 - 1000);
    EXPECT_EQ(j.banks[0].groupWithFewestSpares, 0);
    EXPECT_EQ(j.banks[0].fewestSpares, 5);
    EXPECT_EQ(j.banks[1].spareBlocks, 1024 - 1 - 1000);
    EXPECT_TRUE(OnlyReadsSent());
}

TEST_F(SimStick, AFormatOfAWornStickLeavesItWornWithSparesInEveryGroup) {
    Plug("worn-16mb.txt");
    FakeRun run;
    ASSERT_EQ(RunPhysicalFormat(run, kMediaUsbDisk, FormatMode::Quick),
              FormatResult::CompleteReplug);
    HealthFacts facts = HealthFactsOfRun(run.record);
    const HealthJudgement j = JudgeHealth(facts);
    ASSERT_TRUE(j.judged);
    EXPECT_EQ(j.verdict, Verdict::Worn);
    ASSERT_EQ(j.findings.size(), 1u);  // the bad blocks only: the format left spares everywhere
    EXPECT_EQ(j.findings[0].kind, FindingKind::WornBank);
    EXPECT_GE(j.banks[0].fewestSpares, 3);
    // The groups worked out again are the ones the format wrote.
    EXPECT_EQ(j.formatSectors, run.record.volumeSectors);
    EXPECT_EQ(j.banks[0].dataBlocks, run.record.banks[0].dataBlocks);
}

// Facts for one bank of 1024 blocks of 32 pages, read through, with `bad` blocks marked bad
// (spread over the groups) and no CIS page.
HealthFacts OneBank(std::uint32_t bad) {
    HealthFacts facts;
    BankRecord bank;
    bank.deviceCode = 0x73;
    bank.blocks = 1024;
    bank.pagesPerBlock = 32;
    bank.scanned = true;
    for (std::uint32_t i = 0; i < bad; ++i) bank.bad.push_back({1 + (i * 97) % 1023});
    facts.banks.push_back(bank);
    return facts;
}

TEST(HealthLimits, BadBlocksAreJudgedAgainstTheMakersTwoPerCent) {
    // 2 % of 1024 is 20.48 blocks: 20 is within, 21 is not.
    EXPECT_EQ(JudgeHealth(OneBank(0)).verdict, Verdict::Healthy);
    EXPECT_EQ(JudgeHealth(OneBank(20)).verdict, Verdict::Healthy);
    EXPECT_EQ(JudgeHealth(OneBank(21)).verdict, Verdict::Worn);
    // 4 % is 40.96 blocks.
    EXPECT_EQ(JudgeHealth(OneBank(40)).verdict, Verdict::Worn);
    EXPECT_EQ(JudgeHealth(OneBank(41)).verdict, Verdict::Retire);
    EXPECT_EQ(JudgeHealth(OneBank(1024)).verdict, Verdict::Retire);
}

TEST(HealthLimits, ABlockWhoseMarkDidNotHoldRetiresTheStick) {
    HealthFacts facts = OneBank(2);
    facts.unmarkableBlocks = 1;
    const HealthJudgement j = JudgeHealth(facts);
    EXPECT_EQ(j.verdict, Verdict::Retire);
    ASSERT_EQ(j.findings.size(), 1u);
    EXPECT_EQ(j.findings[0].kind, FindingKind::UnmarkableBlocks);
    EXPECT_EQ(j.findings[0].count, 1u);
}

TEST(HealthLimits, SparesAreWhatTheSticksOwnTableLeaves) {
    // The stick's table gives group 2 (blocks 512-767) all but `spares` of its good blocks.
    for (int spares : {3, 2, 1, 0, -4}) {
        HealthFacts facts = OneBank(0);
        facts.groupsFromCisPage = true;
        facts.cisPage = 0;
        for (auto& entry : facts.groups[0]) entry = 0;
        facts.groups[0][0] = 250;
        facts.groups[0][1] = 250;
        facts.groups[0][3] = 250;
        for (std::uint32_t b = 512; b < 512 + 10; ++b) facts.banks[0].bad.push_back({b});
        facts.groups[0][2] = static_cast<std::uint8_t>(256 - 10 - spares);
        const HealthJudgement j = JudgeHealth(facts);
        EXPECT_EQ(j.banks[0].groupWithFewestSpares, 2) << spares;
        EXPECT_EQ(j.banks[0].fewestSpares, spares);
        if (spares >= kMinSpareBlocksPerGroup) {
            EXPECT_EQ(j.verdict, Verdict::Healthy) << spares;
            continue;
        }
        EXPECT_EQ(j.verdict, Verdict::Worn) << spares;
        ASSERT_EQ(j.findings.size(), 1u);
        const Finding& f = j.findings[0];
        EXPECT_EQ(f.kind, spares < 0 ? FindingKind::SparesOverdrawn : FindingKind::SparesLow);
        EXPECT_EQ(f.group, 2);
        EXPECT_EQ(f.goodBlocks, 246u);
        EXPECT_EQ(f.dataBlocks, static_cast<std::uint32_t>(246 - spares));
        EXPECT_EQ(f.spareBlocks, spares);
    }
}

TEST(HealthLimits, AnAnnouncedSizeIsCounterfeitOnlyAboveWhatTheFlashHolds) {
    HealthFacts facts = OneBank(0);
    facts.announced.readCapacity = kSmallFlashHolds;
    EXPECT_EQ(JudgeHealth(facts).verdict, Verdict::Healthy);
    facts.announced.readCapacity = kSmallFlashHolds + 1;
    const HealthJudgement j = JudgeHealth(facts);
    EXPECT_EQ(j.verdict, Verdict::Counterfeit);
    EXPECT_EQ(j.findings[0].announcedSectors, kSmallFlashHolds + 1);
    // Bad blocks make a stick worn, never counterfeit: its page may predate them.
    HealthFacts worn = OneBank(30);
    worn.announced.cisPage = kSmallFlashHolds;
    EXPECT_EQ(JudgeHealth(worn).verdict, Verdict::Worn);
}

TEST(HealthLimits, WithoutEveryBlockReadThereIsNoVerdict) {
    HealthFacts facts = OneBank(30);
    facts.banks[0].scanned = false;
    EXPECT_FALSE(JudgeHealth(facts).judged);
    EXPECT_FALSE(JudgeHealth(HealthFacts{}).judged);
}

}  // namespace
