// The station's rule for sticks to leave unformatted.
#include "cli/shared/retire_rule.h"

#include <gtest/gtest.h>

namespace {

RetireRule Rule(const std::string& text) {
    RetireRule rule;
    std::string error;
    EXPECT_TRUE(ParseRetireRule(text, &rule, &error)) << error;
    return rule;
}

TEST(RetireRule, ANumberOrAPlusAndANumber) {
    EXPECT_FALSE(Rule("40").growth);
    EXPECT_EQ(Rule("40").limit, 40u);
    EXPECT_TRUE(Rule("+5").growth);
    EXPECT_EQ(Rule("+5").limit, 5u);
    EXPECT_EQ(Rule("0").limit, 0u);
    for (const char* bad : {"", "+", "-3", "4x", "1000000", "65537", " 4", "++2"}) {
        RetireRule rule;
        std::string error;
        EXPECT_FALSE(ParseRetireRule(bad, &rule, &error)) << bad;
        EXPECT_NE(error.find(std::string("not \"") + bad + "\""), std::string::npos) << error;
    }
}

TEST(RetireRule, AboveTheLimitOrAboveTheGrowth) {
    EXPECT_EQ(RetireReason(Rule("40"), 40, std::nullopt), "");
    EXPECT_EQ(RetireReason(Rule("40"), 41, std::nullopt), "41 bad blocks, more than 40");
    EXPECT_EQ(RetireReason(Rule("0"), 1, 1), "1 bad block, more than 0");
    EXPECT_EQ(RetireReason(Rule("+5"), 12, std::nullopt), "");  // no run to grow from
    EXPECT_EQ(RetireReason(Rule("+5"), 12, 7), "");
    EXPECT_EQ(RetireReason(Rule("+5"), 13, 7),
              "13 bad blocks, 6 more than at its last run, more than +5");
    EXPECT_EQ(RetireReason(Rule("+0"), 3, 9), "");  // fewer than before: a Full format reclaimed
}

}  // namespace
