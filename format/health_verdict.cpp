#include "format/health_verdict.h"

#include <algorithm>

#include "format/block_groups.h"
#include "format/health_thresholds.h"

namespace {

// The blocks of one bank, each good or bad, with the group arithmetic over them.
class BankBlocks {
  public:
    explicit BankBlocks(const BankRecord& bank) : bad_(bank.blocks, false) {
        for (const BadBlock& b : bank.bad) {
            if (b.block < bad_.size()) bad_[b.block] = true;
        }
    }
    std::uint32_t Blocks() const { return static_cast<std::uint32_t>(bad_.size()); }
    std::uint32_t Groups() const {
        return std::min<std::uint32_t>((Blocks() + kBlocksPerGroup - 1) / kBlocksPerGroup,
                                       kGroupsPerBank);
    }
    bool Bad(std::uint32_t block) const { return bad_[block]; }
    // The first good block, or kNone.
    std::uint32_t FirstGood() const {
        for (std::uint32_t i = 0; i < Blocks(); ++i) {
            if (!bad_[i]) return i;
        }
        return kNone;
    }
    // Good blocks of the group, `except` (the CIS block) not counted; with firstOnly only among
    // the group's first 255 blocks, as the format counts them.
    std::uint32_t GoodInGroup(std::uint32_t group, std::uint32_t except, bool firstOnly) const {
        const std::uint32_t first = group * kBlocksPerGroup;
        const std::uint32_t end =
            std::min<std::uint32_t>(Blocks(), first + kBlocksPerGroup - (firstOnly ? 1 : 0));
        std::uint32_t good = 0;
        for (std::uint32_t i = first; i < end; ++i) {
            if (!bad_[i] && i != except) ++good;
        }
        return good;
    }

    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  private:
    std::vector<bool> bad_;
};

// a / b above limit / 1000, without rounding.
bool AbovePerMille(std::uint32_t a, std::uint32_t b, std::uint32_t limit) {
    return std::uint64_t{a} * 1000 > std::uint64_t{limit} * b;
}

BankHealth JudgeBank(const BankRecord& record, std::size_t bank, const HealthFacts& facts,
                     std::vector<Finding>* findings) {
    const BankBlocks blocks(record);
    BankHealth health;
    health.blocks = blocks.Blocks();
    health.badBlocks = static_cast<std::uint32_t>(record.bad.size());
    health.scanned = record.scanned;

    // The block the CIS page is in (bank 0 only): where it is now, and where a format puts it.
    std::uint32_t cisBlock = BankBlocks::kNone;
    std::uint32_t formatCisBlock = BankBlocks::kNone;
    if (bank == 0) {
        formatCisBlock = blocks.FirstGood();
        cisBlock = facts.cisPage >= 0 && record.pagesPerBlock != 0
                       ? static_cast<std::uint32_t>(facts.cisPage) / record.pagesPerBlock
                       : formatCisBlock;
    }
    Finding spares;  // the group with the fewest spares
    for (std::uint32_t g = 0; g < blocks.Groups(); ++g) {
        const std::uint8_t formatData =
            GroupDataBlocks(blocks.GoodInGroup(g, formatCisBlock, true));
        health.formatDataBlocks += formatData;
        const std::uint32_t data = facts.groupsFromCisPage ? facts.groups[bank][g] : formatData;
        const std::uint32_t good = blocks.GoodInGroup(g, cisBlock, false);
        const std::int32_t left = static_cast<std::int32_t>(good) - static_cast<std::int32_t>(data);
        health.dataBlocks += data;
        health.spareBlocks += left;
        if (data != 0 && (spares.group < 0 || left < spares.spareBlocks)) {
            spares.group = static_cast<std::int32_t>(g);
            spares.goodBlocks = good;
            spares.dataBlocks = data;
            spares.spareBlocks = left;
        }
    }
    health.groupWithFewestSpares = spares.group;
    health.fewestSpares = spares.spareBlocks;
    if (!record.scanned) return health;

    Finding bad;
    bad.bank = static_cast<std::int32_t>(bank);
    bad.count = health.badBlocks;
    bad.blocks = health.blocks;
    if (AbovePerMille(bad.count, bad.blocks, kRetireBadPerMille)) {
        bad.kind = FindingKind::FailingBank;
        bad.perMilleLimit = kRetireBadPerMille;
        findings->push_back(bad);
    } else if (AbovePerMille(bad.count, bad.blocks, kWornBadPerMille)) {
        bad.kind = FindingKind::WornBank;
        bad.perMilleLimit = kWornBadPerMille;
        findings->push_back(bad);
    }
    if (spares.group >= 0 && spares.spareBlocks < kMinSpareBlocksPerGroup) {
        spares.kind =
            spares.spareBlocks < 0 ? FindingKind::SparesOverdrawn : FindingKind::SparesLow;
        spares.bank = static_cast<std::int32_t>(bank);
        findings->push_back(spares);
    }
    return health;
}

// The most a format can offer over the bank with no block bad: each group's first 255 blocks,
// bank 0's first block holding the CIS page.
std::uint32_t MostSectors(const BankRecord& record, std::size_t bank) {
    std::uint32_t data = 0;
    for (std::uint32_t first = 0, g = 0; first < record.blocks && g < kGroupsPerBank;
         first += kBlocksPerGroup, ++g) {
        std::uint32_t counted =
            std::min<std::uint32_t>(record.blocks, first + kBlocksPerGroup - 1) - first;
        if (bank == 0 && g == 0 && counted > 0) --counted;
        data += GroupDataBlocks(counted);
    }
    return data * record.pagesPerBlock;
}

void AddAnnounced(Announcer by, const std::optional<std::uint32_t>& sectors, std::uint32_t holds,
                  std::vector<Finding>* findings) {
    if (!sectors || *sectors <= holds) return;
    Finding f;
    f.kind = FindingKind::AnnouncesMore;
    f.by = by;
    f.announcedSectors = *sectors;
    f.flashHoldsSectors = holds;
    findings->push_back(f);
}

}  // namespace

Verdict VerdictOf(FindingKind kind) {
    switch (kind) {
        case FindingKind::AnnouncesMore:
            return Verdict::Counterfeit;
        case FindingKind::FailingBank:
        case FindingKind::UnmarkableBlocks:
            return Verdict::Retire;
        case FindingKind::WornBank:
        case FindingKind::SparesOverdrawn:
        case FindingKind::SparesLow:
            return Verdict::Worn;
        case FindingKind::WithinLimits:
            break;
    }
    return Verdict::Healthy;
}

HealthFacts HealthFactsOfScan(const HealthScan& scan) {
    HealthFacts facts;
    if (!scan.banksKnown) return facts;
    facts.banks = scan.banks;
    facts.cisPage = scan.cisPage;
    facts.groupsFromCisPage = scan.cisPage >= 0 && scan.cisDecoded;
    if (facts.groupsFromCisPage) {
        facts.groups = scan.cis.groups;
        facts.announced.cisPage = scan.cis.sectors;
    }
    if (scan.capacityRead) facts.announced.readCapacity = scan.logicalSectors;
    return facts;
}

HealthFacts HealthFactsOfRun(const RunRecord& record) {
    HealthFacts facts;
    facts.banks = record.banks;
    facts.cisPage = record.cisPage;
    facts.unmarkableBlocks = record.unmarkableBlocks;
    return facts;
}

HealthJudgement JudgeHealth(const HealthFacts& facts) {
    HealthJudgement j;
    j.groupsFromCisPage = facts.groupsFromCisPage;
    j.announced = facts.announced;
    if (facts.banks.empty() || facts.banks.size() > kMaxBanks) return j;

    bool allScanned = true;
    std::uint64_t flashHolds = 0;
    std::uint64_t formatSectors = 0;
    for (std::size_t b = 0; b < facts.banks.size(); ++b) {
        const BankRecord& record = facts.banks[b];
        j.banks.push_back(JudgeBank(record, b, facts, &j.findings));
        j.flashSectors += std::uint64_t{record.blocks} * record.pagesPerBlock;
        flashHolds += MostSectors(record, b);
        formatSectors += std::uint64_t{j.banks.back().formatDataBlocks} * record.pagesPerBlock;
        allScanned = allScanned && record.scanned;
    }
    j.flashHoldsSectors = static_cast<std::uint32_t>(std::min<std::uint64_t>(flashHolds, ~0u));
    AddAnnounced(Announcer::ReadCapacity, facts.announced.readCapacity, j.flashHoldsSectors,
                 &j.findings);
    AddAnnounced(Announcer::CisPage, facts.announced.cisPage, j.flashHoldsSectors, &j.findings);
    if (facts.unmarkableBlocks >= kRetireUnmarkableBlocks) {
        Finding f;
        f.kind = FindingKind::UnmarkableBlocks;
        f.count = facts.unmarkableBlocks;
        j.findings.push_back(f);
    }
    if (allScanned) {
        j.formatSectorsKnown = true;
        j.formatSectors = static_cast<std::uint32_t>(std::min<std::uint64_t>(formatSectors, ~0u));
    }

    std::stable_sort(j.findings.begin(), j.findings.end(), [](const Finding& a, const Finding& b) {
        return VerdictOf(a.kind) > VerdictOf(b.kind);
    });
    const bool counterfeit =
        !j.findings.empty() && VerdictOf(j.findings.front().kind) == Verdict::Counterfeit;
    j.judged = allScanned || counterfeit;
    if (!j.judged) {
        j.findings.clear();
        return j;
    }
    if (j.findings.empty()) {
        // Healthy: the bank closest to its limit says by how much it is within it.
        std::size_t worst = 0;
        for (std::size_t b = 1; b < j.banks.size(); ++b) {
            if (std::uint64_t{j.banks[b].badBlocks} * j.banks[worst].blocks >
                std::uint64_t{j.banks[worst].badBlocks} * j.banks[b].blocks) {
                worst = b;
            }
        }
        Finding f;
        f.kind = FindingKind::WithinLimits;
        f.bank = static_cast<std::int32_t>(worst);
        f.count = j.banks[worst].badBlocks;
        f.blocks = j.banks[worst].blocks;
        f.perMilleLimit = kWornBadPerMille;
        j.findings.push_back(f);
    }
    j.verdict = VerdictOf(j.findings.front().kind);
    return j;
}
