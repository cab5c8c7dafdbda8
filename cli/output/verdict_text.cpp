#include "cli/output/verdict_text.h"

#include <cstdio>

#include "cli/output/size_text.h"
#include "cli/shared/json_values.h"
#include "format/health_thresholds.h"

namespace {

// count of blocks as a share in per cent, with as many decimals (one at least) as it takes not
// to read as the limit it is compared with when it is not equal to it.
std::string PercentText(std::uint32_t count, std::uint32_t blocks, std::uint32_t limitPerMille) {
    const double share = blocks == 0 ? 0 : 100.0 * count / blocks;
    const bool atLimit = std::uint64_t{count} * 1000 == std::uint64_t{limitPerMille} * blocks;
    char text[32];
    char limit[32];
    for (int decimals = 1;; ++decimals) {
        std::snprintf(text, sizeof text, "%.*f", decimals, share);
        std::snprintf(limit, sizeof limit, "%.*f", decimals, limitPerMille / 10.0);
        if (atLimit || decimals == 4 || std::string(text) != limit) break;
    }
    return std::string(text) + " %";
}

// "2 %" of a limit in blocks per thousand.
std::string LimitText(std::uint32_t perMille) {
    char text[32];
    if (perMille % 10 == 0) {
        std::snprintf(text, sizeof text, "%u %%", perMille / 10);
    } else {
        std::snprintf(text, sizeof text, "%.1f %%", perMille / 10.0);
    }
    return text;
}

std::string BankShare(const Finding& f) {
    return "bank " + std::to_string(f.bank) + ": " + std::to_string(f.count) + " of " +
           std::to_string(f.blocks) + " blocks bad (" +
           PercentText(f.count, f.blocks, f.perMilleLimit) + ")";
}

std::string GroupName(const Finding& f) {
    const std::uint32_t first = static_cast<std::uint32_t>(f.group) * kBlocksPerGroup;
    return "bank " + std::to_string(f.bank) + ", group " + std::to_string(f.group) + " (blocks " +
           std::to_string(first) + "-" + std::to_string(first + kBlocksPerGroup - 1) + ")";
}

std::string Blocks(std::int64_t count) {
    return std::to_string(count) + (count == 1 || count == -1 ? " block" : " blocks");
}

}  // namespace

const char* VerdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::Healthy:
            return "healthy";
        case Verdict::Worn:
            return "worn";
        case Verdict::Retire:
            return "retire";
        case Verdict::Counterfeit:
            return "counterfeit";
    }
    return "healthy";
}

std::string FindingText(const Finding& f) {
    switch (f.kind) {
        case FindingKind::AnnouncesMore:
            return std::string(f.by == Announcer::ReadCapacity ? "its logical size (READ CAPACITY)"
                                                               : "its CIS page") +
                   " announces " + SizeText(f.announcedSectors) + ", its flash holds at most " +
                   SizeText(f.flashHoldsSectors);
        case FindingKind::FailingBank:
            return BankShare(f) + ", more than the " + LimitText(f.perMilleLimit) +
                   " from which a stick is retired: its flash is failing";
        case FindingKind::UnmarkableBlocks:
            return std::to_string(f.count) + (f.count == 1 ? " bad block" : " bad blocks") +
                   " whose bad-block mark did not hold: the stick will write to them again";
        case FindingKind::WornBank:
            return BankShare(f) + ", more than the " + LimitText(f.perMilleLimit) +
                   " its flash's maker allows for the part's whole life";
        case FindingKind::SparesOverdrawn:
            return GroupName(f) + ": its CIS page gives it " + Blocks(f.dataBlocks) +
                   " of data, but only " + std::to_string(f.goodBlocks) +
                   " good ones are left: a format counts it again";
        case FindingKind::SparesLow:
            return GroupName(f) + ": " + Blocks(f.spareBlocks) + " to spare beyond its " +
                   std::to_string(f.dataBlocks) + " data blocks, fewer than the " +
                   std::to_string(kMinSpareBlocksPerGroup) +
                   " the controller needs to write and to replace a failing block";
        case FindingKind::WithinLimits:
            return BankShare(f) + ", within the " + LimitText(f.perMilleLimit) +
                   " its flash's maker allows";
    }
    return std::string();
}

std::vector<std::string> VerdictReasons(const HealthJudgement& judgement) {
    std::vector<std::string> reasons;
    if (!judgement.judged) return reasons;
    for (const Finding& f : judgement.findings) reasons.push_back(FindingText(f));
    return reasons;
}

std::string VerdictAdvice(const HealthJudgement& j) {
    if (!j.judged) return std::string();
    switch (j.verdict) {
        case Verdict::Healthy:
            return "a Quick format is enough";
        case Verdict::Worn:
            return "format it Full, whose surface tests find the weak blocks and mark them bad, "
                   "and watch its bad blocks from run to run";
        case Verdict::Retire:
            return "retire it: more of its blocks will fail, and the data on them with them";
        case Verdict::Counterfeit:
            return "a format gives it the size its flash holds, " +
                   SizeText(j.formatSectorsKnown ? j.formatSectors : j.flashHoldsSectors) +
                   (j.formatSectorsKnown ? "" : " at most") + "; it will never hold " +
                   SizeText(j.announced.Largest());
    }
    return std::string();
}

std::string CounterfeitText(const HealthJudgement& j) {
    if (!j.judged || j.verdict != Verdict::Counterfeit) return std::string();
    return "counterfeit: announces " + SizeText(j.announced.Largest()) + ", its flash holds " +
           SizeText(j.flashHoldsSectors);
}

std::string VerdictLines(const HealthJudgement& judgement) {
    if (!judgement.judged) return std::string();
    std::string text = std::string("Verdict: ") + VerdictName(judgement.verdict) + "\n";
    for (const std::string& reason : VerdictReasons(judgement)) text += "  " + reason + "\n";
    text += "Advice: " + VerdictAdvice(judgement) + "\n";
    return text;
}

void AddVerdictJson(const HealthJudgement& j, Json* report) {
    (*report)["verdict"] = j.judged ? Json(VerdictName(j.verdict)) : Json(nullptr);
    (*report)["verdict_reasons"] = VerdictReasons(j);
    Json banks = Json::array();
    for (std::size_t b = 0; b < j.banks.size(); ++b) {
        const BankHealth& bank = j.banks[b];
        const bool group = bank.groupWithFewestSpares >= 0;
        banks.push_back(
            {{"bank", b},
             {"blocks", bank.blocks},
             {"bad_blocks", bank.badBlocks},
             {"scanned", bank.scanned},
             {"data_blocks", bank.dataBlocks},
             {"spare_blocks", bank.spareBlocks},
             {"group_with_fewest_spares", group ? Json(bank.groupWithFewestSpares) : Json(nullptr)},
             {"fewest_spares", group ? Json(bank.fewestSpares) : Json(nullptr)},
             {"format_data_blocks", bank.formatDataBlocks}});
    }
    (*report)["health"] = {{"advice", j.judged ? Json(VerdictAdvice(j)) : Json(nullptr)},
                           {"flash_sectors", j.flashSectors},
                           {"flash_holds_sectors", j.flashHoldsSectors},
                           {"format_sectors", NullUnless(j.formatSectorsKnown, j.formatSectors)},
                           {"announced_sectors",
                            {{"read_capacity", NullUnless(j.announced.readCapacity)},
                             {"cis_page", NullUnless(j.announced.cisPage)}}},
                           {"groups_from", j.groupsFromCisPage ? "cis-page" : "format"},
                           {"banks", banks},
                           {"limits",
                            {{"worn_bad_per_mille", kWornBadPerMille},
                             {"retire_bad_per_mille", kRetireBadPerMille},
                             {"min_spare_blocks_per_group", kMinSpareBlocksPerGroup},
                             {"retire_unmarkable_blocks", kRetireUnmarkableBlocks}}}};
}
