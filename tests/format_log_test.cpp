#include "core/format_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/temp_dir.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(FormatLog, OffCreatesNoFileAndDropsLines) {
    TempDir dir;
    const std::string path = dir.Path() + "/brevant.log";
    FormatLog log;
    log.Open(0, path);
    log.Append("Bank No = %d\n", 3);
    EXPECT_EQ(log.Used(), FormatLog::kBufferSize);
    log.Flush();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    EXPECT_EQ(f, nullptr);
    if (f) std::fclose(f);
}

TEST(FormatLog, OnWithoutLinesLeavesEmptyFile) {
    TempDir dir;
    const std::string path = dir.Path() + "/brevant.log";
    {
        std::ofstream old(path);
        old << "an old log";
    }
    FormatLog log;
    log.Open(1, path);
    log.Flush();
    EXPECT_EQ(ReadFile(path), "");
}

TEST(FormatLog, LinesAreFormattedAndWrittenWithLineFeedsOnly) {
    TempDir dir;
    const std::string path = dir.Path() + "/brevant.log";
    FormatLog log;
    log.Open(1, path);
    log.Append("Start formatting DISK\n");
    log.Append("Bad blk: %d\n", 4711);
    log.Append("Total bad blocks = %d\nTotal unable_to_mark_bad blocks = %d\n", 12, -1);
    log.Flush();
    const std::string text = ReadFile(path);
    EXPECT_EQ(text,
              "Start formatting DISK\nBad blk: 4711\n"
              "Total bad blocks = 12\nTotal unable_to_mark_bad blocks = -1\n");
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.find('\0'), std::string::npos);
}

TEST(FormatLog, BlockLinesNameTheirBankOnlyWhenAsked) {
    TempDir dir;
    const std::string path = dir.Path() + "/brevant.log";
    FormatLog log;
    log.Open(1, path);
    log.AppendBlockLine("Bad blk: %d\n", 37, 1);
    log.NameBanks(true);
    log.AppendBlockLine("Bad blk: %d\n", 37, 1);
    log.AppendBlockLine("0x55 pattern fail at %d\n", 2077, 0);
    log.Flush();
    EXPECT_EQ(ReadFile(path),
              "Bad blk: 37\nBad blk: 37 (bank 1)\n0x55 pattern fail at 2077 (bank 0)\n");
}

TEST(FormatLog, AnAppendedLogKeepsEveryRun) {
    TempDir dir;
    const std::string path = dir.Path() + "/brevant.log";
    for (int run = 1; run <= 2; ++run) {
        FormatLog log;
        log.Open(1, path, FormatLog::FileMode::Append);
        log.Append("Run %d\n", run);
        log.Flush();
    }
    EXPECT_EQ(ReadFile(path), "Run 1\nRun 2\n");
    FormatLog truncating;
    truncating.Open(1, path);
    truncating.Flush();
    EXPECT_EQ(ReadFile(path), "");
}

TEST(FormatLog, AppendStopsAtTheLimit) {
    TempDir dir;
    FormatLog log;
    log.Open(1, dir.Path() + "/brevant.log");
    log.SetUsedForTest(FormatLog::kAppendLimit - 1);
    log.Append("User stop\n");
    EXPECT_EQ(log.Used(), FormatLog::kAppendLimit - 1 + 10);
    const std::uint32_t full = log.Used();
    log.Append("User stop\n");
    EXPECT_EQ(log.Used(), full);

    log.SetUsedForTest(FormatLog::kAppendLimit);
    log.Append("User stop\n");
    EXPECT_EQ(log.Used(), FormatLog::kAppendLimit);
}

}  // namespace
