#pragma once
#include <cstdint>
#include <vector>

#include "format/page_image.h"

// What one format run learnt about the stick and how it ended, kept for the front ends that
// report it (the command line's summary, report and map). The engine fills it as it goes, so a
// run that ends early leaves what it had learnt by then.

// Why a block counts as bad in this run.
enum class BadReason : std::uint8_t {
    Marked,            // found marked bad and not retested
    Erase,             // its erase failed
    PatternAscending,  // the ascending pattern test failed
    Pattern55,         // the 0x55 test failed
    PatternAA,         // the 0xAA test failed
    NotFree,           // erased, but did not read back erased
};

struct BadBlock {
    std::uint32_t block = 0;
    BadReason reason = BadReason::Marked;
};

struct BankRecord {
    std::uint8_t deviceCode = 0;
    std::uint16_t blocks = 0;
    std::uint8_t pagesPerBlock = 0;
    std::vector<BadBlock> bad;               // in block order
    std::vector<std::uint32_t> unmarkable;   // bad blocks whose mark did not hold
    std::uint32_t dataBlocks = 0;            // free blocks counted into the groups
    std::vector<std::uint32_t> holdingData;  // a look without erasing: blocks that hold data
    bool scanned = false;                    // the scan went through every block of the bank
};

// How the run ended, finer than its result.
enum class RunEnd : std::uint8_t {
    NotStarted,      // ended before the scan: not ready, no banks, a code or page it cannot read
    Complete,        // CIS page and volume written
    Failed,          // the CIS page or the volume could not be written
    Stopped,         // Stop, or a stop signal
    Aborted,         // Abort in the damaged-media question
    Removed,         // the stick went away
    Unresponsive,    // the stick stopped answering
    WriteProtected,  // the stick refused a write as write-protected
};

// What became of the old CIS and vendor pages on a run that did not complete.
enum class PageFate : std::uint8_t {
    None,       // there was no such page
    Untouched,  // the run ended before the scan: still on the stick as it was
    Restored,   // written back, and the write was accepted
    Lost,       // saved, but the write-back failed
};

struct RunRecord {
    std::vector<BankRecord> banks;
    std::int32_t oldCisPage = -1;
    std::int32_t oldVendorPage = -1;
    PageFate cisFate = PageFate::None;
    PageFate vendorFate = PageFate::None;
    std::int32_t cisPage = -1;  // the new CIS page, once written
    BankSectorTotals totals{};
    // The sectors the FAT volume was laid over, the stick's new logical size; 0 for none.
    std::uint32_t volumeSectors = 0;
    std::uint32_t badBlocks = 0;
    std::uint32_t unmarkableBlocks = 0;
    // Blocks the run erased, or tried to, or wrote test patterns into: what they held is gone,
    // whether or not the run completed.
    std::uint32_t erasedBlocks = 0;
    RunEnd end = RunEnd::NotStarted;
    // Whether the run erased (or tested, or marked) a block: what the system read of the stick
    // before is stale, however the run ended.
    bool changedFlash = false;
};
