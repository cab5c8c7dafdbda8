#pragma once
#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "format/health_scan.h"
#include "format/page_image.h"
#include "format/run_record.h"

// What a stick's flash is worth, from what a look at it (or a format) learnt: healthy, worn,
// to be retired, or counterfeit, with the findings the verdict rests on and the figures behind
// them. The limits are those of health_thresholds.h.

// In rising order of gravity.
enum class Verdict : std::uint8_t {
    Healthy,      // every bank within what its maker allows, every group with spares to use
    Worn,         // more bad blocks than the maker allows, or groups short of spares
    Retire,       // so many bad blocks, or marks that do not hold, that data on it is at risk
    Counterfeit,  // it announces more than its flash can hold
};

// The sizes a stick announces, in sectors; empty when it did not say.
struct AnnouncedSizes {
    std::optional<std::uint32_t> readCapacity;  // READ CAPACITY
    std::optional<std::uint32_t> cisPage;       // the CIS page's last bank total
    // The larger of the two (0 when neither is known).
    std::uint32_t Largest() const {
        return std::max(readCapacity.value_or(0), cisPage.value_or(0));
    }
};

// What a judgement rests on.
struct HealthFacts {
    // Geometry and bad blocks of each bank; a bank whose `scanned` is false was not read through,
    // so its bad blocks are not all known.
    std::vector<BankRecord> banks;
    // The stick's own group table, when its CIS page decoded: the data blocks the controller
    // works with. Without it the groups are judged as a format would count them now.
    bool groupsFromCisPage = false;
    GroupTable groups{};
    std::int32_t cisPage = -1;  // page of bank 0 holding the CIS page; its block is no spare
    AnnouncedSizes announced;
    // Bad blocks whose mark did not hold (known after a format only).
    std::uint32_t unmarkableBlocks = 0;
};

// The facts of a look without erasing.
HealthFacts HealthFactsOfScan(const HealthScan& scan);
// The facts of a format that went through every block: its bad blocks, its new CIS page (the
// groups are what it counted, so they are worked out again from its bad blocks) and its
// unmarkable blocks. The sizes the stick announced before the run are the caller's to add.
HealthFacts HealthFactsOfRun(const RunRecord& record);

// What a finding is about.
enum class FindingKind : std::uint8_t {
    AnnouncesMore,     // counterfeit: an announced size above what the flash can hold
    FailingBank,       // retire: a bank above kRetireBadPerMille
    UnmarkableBlocks,  // retire: bad blocks whose mark did not hold
    WornBank,          // worn: a bank above kWornBadPerMille
    SparesOverdrawn,   // worn: a group with fewer good blocks than its table gives it data blocks
    SparesLow,         // worn: a group with fewer than kMinSpareBlocksPerGroup spare blocks
    WithinLimits,      // healthy: the bank with the most bad blocks, within the limits
};

// Which of the stick's answers announced a size.
enum class Announcer : std::uint8_t { ReadCapacity, CisPage };

struct Finding {
    FindingKind kind = FindingKind::WithinLimits;
    std::int32_t bank = -1;   // the bank it is about; -1: the whole stick
    std::int32_t group = -1;  // the group of that bank it is about; -1: the whole bank
    // FailingBank, WornBank, WithinLimits: the bank's bad blocks and all its blocks, and the
    // limit crossed (or kept) in blocks per thousand. UnmarkableBlocks: `count` only.
    std::uint32_t count = 0;
    std::uint32_t blocks = 0;
    std::uint32_t perMilleLimit = 0;
    // SparesOverdrawn, SparesLow: the group's good blocks (the CIS block not counted), the data
    // blocks its table gives it, and what is left over.
    std::uint32_t goodBlocks = 0;
    std::uint32_t dataBlocks = 0;
    std::int32_t spareBlocks = 0;
    // AnnouncesMore: who announced what, against the most the flash can hold, in sectors.
    Announcer by = Announcer::ReadCapacity;
    std::uint32_t announcedSectors = 0;
    std::uint32_t flashHoldsSectors = 0;
};

// The verdict a finding calls for.
Verdict VerdictOf(FindingKind kind);

// The figures of one bank.
struct BankHealth {
    std::uint32_t blocks = 0;
    std::uint32_t badBlocks = 0;
    bool scanned = false;  // every block looked at: the counts below are whole
    // The data blocks the group table (the stick's own, or the format's count) gives the bank,
    // and the good blocks beyond them: the controller's spares. The CIS block is neither.
    std::uint32_t dataBlocks = 0;
    std::int32_t spareBlocks = 0;
    // The group offering data with the fewest spares (-1: no group offers data).
    std::int32_t groupWithFewestSpares = -1;
    std::int32_t fewestSpares = 0;
    // The data blocks a format would give the bank now.
    std::uint32_t formatDataBlocks = 0;
};

struct HealthJudgement {
    // False when too little is known for a verdict: the banks are unknown, or not every block
    // was looked at and the sizes do not give the stick away as counterfeit.
    bool judged = false;
    Verdict verdict = Verdict::Healthy;
    // The findings behind the verdict, the gravest first: every limit crossed, or for a healthy
    // stick the bank closest to its limit.
    std::vector<Finding> findings;
    std::vector<BankHealth> banks;
    bool groupsFromCisPage = false;
    // The flash's size from its geometry, in sectors: every page of every bank, and the most a
    // format can offer over it (250 data blocks a group, no block bad).
    std::uint64_t flashSectors = 0;
    std::uint32_t flashHoldsSectors = 0;
    // What a format would offer over the blocks found good (every bank read through only).
    bool formatSectorsKnown = false;
    std::uint32_t formatSectors = 0;
    // The sizes the stick announces, as the facts had them.
    AnnouncedSizes announced;
};

HealthJudgement JudgeHealth(const HealthFacts& facts);
