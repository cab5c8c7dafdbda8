// The picture of the flash: drawn as SVG, rendered by a real SVG renderer, read in its pixels.
#include "cli/output/block_map.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/temp_dir.h"

namespace {

// Runs a command and returns what it printed.
std::string Output(const std::string& command) {
    std::string text;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return text;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
    pclose(pipe);
    return text;
}

bool HaveRenderer() {
    return std::system("command -v rsvg-convert >/dev/null && command -v convert >/dev/null") == 0;
}

// "#d62728" -> "srgb(214,39,40)", as ImageMagick names a pixel.
std::string Srgb(const char* hex) {
    unsigned r = 0, g = 0, b = 0;
    std::sscanf(hex, "#%02x%02x%02x", &r, &g, &b);
    return "srgb(" + std::to_string(r) + "," + std::to_string(g) + "," + std::to_string(b) + ")";
}

BlockMap TwoBanks() {
    BlockMap map;
    map.title = "sim:E  <test> & more";
    map.totals = {"Bad blocks: 3", "Capacity after: 60.5 MiB"};
    MapBank bank0;
    bank0.deviceCode = 0x76;
    bank0.blocks.assign(4096, BlockState::Good);
    bank0.blocks[0] = BlockState::CisAndVendor;
    bank0.blocks[37] = BlockState::Marked;
    bank0.blocks[812] = BlockState::FailedErase;
    bank0.blocks[2077] = BlockState::Failed55;
    bank0.blocks[4095] = BlockState::Unmarkable;
    MapBank bank1;
    bank1.deviceCode = 0x73;
    bank1.blocks.assign(1024, BlockState::Good);
    bank1.blocks[500] = BlockState::NotScanned;
    map.banks = {bank0, bank1};
    return map;
}

TEST(BlockMap, KnownBlocksShowTheirColoursOnceRendered) {
    ASSERT_TRUE(HaveRenderer()) << "rsvg-convert (librsvg2-bin) and ImageMagick are needed";
    TempDir dir;
    const BlockMap map = TwoBanks();
    const std::string svg = dir.Path() + "/map.svg";
    const std::string png = dir.Path() + "/map.png";
    std::ofstream(svg) << RenderBlockMapSvg(map);
    ASSERT_EQ(std::system(("rsvg-convert -o " + png + " " + svg).c_str()), 0);

    struct Probe {
        std::size_t bank;
        std::uint32_t block;
        BlockState state;
    };
    const Probe probes[] = {
        {0, 0, BlockState::CisAndVendor}, {0, 1, BlockState::Good},
        {0, 37, BlockState::Marked},      {0, 812, BlockState::FailedErase},
        {0, 2077, BlockState::Failed55},  {0, 4095, BlockState::Unmarkable},
        {1, 500, BlockState::NotScanned}, {1, 1023, BlockState::Good},
    };
    for (const Probe& p : probes) {
        double x = 0, y = 0;
        BlockCellCentre(map, p.bank, p.block, &x, &y);
        const std::string pixel =
            Output("convert " + png + " -format '%[pixel:p{" + std::to_string(static_cast<int>(x)) +
                   "," + std::to_string(static_cast<int>(y)) + "}]' info:");
        EXPECT_EQ(pixel, Srgb(BlockStateColour(p.state)))
            << "bank " << p.bank << " block " << p.block;
    }
}

TEST(BlockMap, TheTitleIsTextNotMarkup) {
    const std::string svg = RenderBlockMapSvg(TwoBanks());
    EXPECT_NE(svg.find("sim:E  &lt;test&gt; &amp; more"), std::string::npos);
    EXPECT_EQ(svg.find("<test>"), std::string::npos);
    for (int s = 0; s < kBlockStateCount; ++s) {
        EXPECT_NE(svg.find(BlockStateName(static_cast<BlockState>(s))), std::string::npos);
    }
}

TEST(BlockMap, EveryBadBlockAndTheCisBlockCarryATitleInValidSvg) {
    BlockMap map = TwoBanks();
    for (std::uint32_t b = 100; b <= 103; ++b) map.banks[0].blocks[b] = BlockState::Marked;
    const std::string svg = RenderBlockMapSvg(map);
    for (const char* title :
         {"bank 0, block 0: CIS and vendor page", "bank 0, block 37: marked bad",
          "bank 0, blocks 100-103: marked bad", "bank 0, block 812: failed erase",
          "bank 0, block 2077: failed 0x55 test", "bank 0, block 4095: bad, mark did not hold"}) {
        EXPECT_NE(svg.find(std::string("<title>") + title + "</title>"), std::string::npos)
            << title;
    }
    // Nothing else: good blocks and those not scanned are not pointed at one by one.
    std::size_t titles = 0;
    for (std::size_t at = svg.find("<title>"); at != std::string::npos;
         at = svg.find("<title>", at + 1)) {
        ++titles;
    }
    EXPECT_EQ(titles, 6u);
    // The legend counts the blocks of each state.
    EXPECT_NE(svg.find(">marked bad: 5<"), std::string::npos);
    EXPECT_NE(svg.find(">good: " + std::to_string(4096 - 9 + 1023) + "<"), std::string::npos);
    EXPECT_NE(svg.find(">failed 0xAA test: 0<"), std::string::npos);

    TempDir dir;
    const std::string path = dir.Path() + "/map.svg";
    std::ofstream(path) << svg;
    EXPECT_EQ(std::system(("xmllint --noout '" + path + "'").c_str()), 0);
}

TEST(BlockMap, AOneGibiByteDiskStaysSmall) {
    BlockMap clean;
    clean.title = "1 GiB";
    for (int b = 0; b < 8; ++b) {
        MapBank bank;
        bank.deviceCode = 0x79;
        bank.blocks.assign(8192, BlockState::Good);
        clean.banks.push_back(bank);
    }
    EXPECT_LT(RenderBlockMapSvg(clean).size(), 64u * 1024);
    // A worn stick: one block in 16 bad, each its own run.
    BlockMap worn = clean;
    for (MapBank& bank : worn.banks) {
        for (std::size_t i = 0; i < bank.blocks.size(); i += 16)
            bank.blocks[i] = BlockState::Marked;
    }
    const std::string svg = RenderBlockMapSvg(worn);
    EXPECT_LT(svg.size(), 500u * 1024);
    TempDir dir;
    const std::string path = dir.Path() + "/worn.svg";
    std::ofstream(path) << svg;
    EXPECT_EQ(std::system(("xmllint --noout '" + path + "'").c_str()), 0);
}

}  // namespace
