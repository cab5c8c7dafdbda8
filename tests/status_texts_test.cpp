// The texts about the disk and the run that the dialog and the command line share.
#include "core/status_texts.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CapacityText, WholeMegabytesTenthTruncatedAndSectorCount) {
    struct Row {
        std::uint32_t lba;
        const char* text;
    };
    const Row rows[] = {
        {250, "0.1 MB  251 sectors"},
        {1000, "0.4 MB  1001 sectors"},
        {125055, "61.0 MB  125056 sectors"},
        {127999, "62.5 MB  128000 sectors"},
        {131071, "64.0 MB  131072 sectors"},
        {2047999, "1000.0 MB  2048000 sectors"},
        {2048000, "1000.0 MB  2048001 sectors"},
        {4094, "1.9 MB  4095 sectors"},
    };
    for (const Row& row : rows) EXPECT_EQ(CapacityText(row.lba), row.text) << row.lba;
    EXPECT_EQ(CapacityText(249), "Media is not formatted.");
    EXPECT_EQ(CapacityText(2048001), "Media is not formatted.");
}

TEST(ElapsedTime, HoursMinutesSecondsWithHoursModuloADay) {
    EXPECT_EQ(ElapsedText(0), " 00:00:00.");
    EXPECT_EQ(ElapsedText(125), " 00:02:05.");
    EXPECT_EQ(ElapsedText(3725), " 01:02:05.");
    EXPECT_EQ(ElapsedText(86399), " 23:59:59.");
    EXPECT_EQ(ElapsedText(90000), " 01:00:00.");
    EXPECT_EQ(ElapsedText(-5), " 00:00:00.");
}

TEST(ResultText, EveryResultAndTheValuesNoEngineGives) {
    EXPECT_EQ(ResultText(FormatResult::Complete), "Format is complete.");
    EXPECT_EQ(ResultText(FormatResult::Cancelled), "Format was canceled.");
    EXPECT_EQ(ResultText(FormatResult::CompleteReplug), "");
    EXPECT_EQ(ResultText(FormatResult::Failed), "Format failed !");
    EXPECT_EQ(ResultText(static_cast<FormatResult>(7)), "Format failed !");
}

}  // namespace
