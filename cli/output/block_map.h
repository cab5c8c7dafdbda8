#pragma once
#include <cstdint>
#include <string>
#include <vector>

// A picture of the flash: one small cell per block, bank by bank, coloured by what the block
// is, with a legend (each state's colour and how many blocks are in it) and the totals. Every
// bad block and the CIS block carries a title (bank, block, what it is) that a browser shows
// when the pointer rests on it. Written as SVG, which every browser shows.

enum class BlockState : std::uint8_t {
    Good,             // usable (erased, or holding data the format keeps)
    Data,             // holds data (what a look without erasing finds)
    Marked,           // found marked bad
    FailedErase,      // failed its erase in this run
    FailedAscending,  // failed the ascending pattern test
    Failed55,         // failed the 0x55 test
    FailedAA,         // failed the 0xAA test
    FailedNotFree,    // erased but did not read back erased
    Unmarkable,       // bad, and its mark did not hold
    Cis,              // holds the CIS page
    CisAndVendor,     // holds the CIS page and the vendor page behind it
    NotScanned,       // the run ended before it got there
};
constexpr int kBlockStateCount = 12;

struct MapBank {
    std::uint8_t deviceCode = 0;
    std::vector<BlockState> blocks;
};

struct BlockMap {
    std::string title;                // e.g. "sim:E  GENERIC USB DISK  format, quick"
    std::vector<std::string> totals;  // lines under the title
    std::vector<MapBank> banks;
};

// The SVG text. Runs of blocks in one state are drawn as one shape (a run of bad blocks in a row
// has one title), so that a clean 1 GiB disk (65,536 blocks) makes a file of a few kilobytes.
std::string RenderBlockMapSvg(const BlockMap& map);

// The colour of a state ("#rrggbb") and its legend text.
const char* BlockStateColour(BlockState state);
const char* BlockStateName(BlockState state);

// Where block `block` of bank `bank` is drawn: the centre of its cell, in SVG user units.
void BlockCellCentre(const BlockMap& map, std::size_t bank, std::uint32_t block, double* x,
                     double* y);
