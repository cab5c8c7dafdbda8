#include "cli/shared/retire_rule.h"

namespace {

// Far more bad blocks than any stick of this controller has (8 banks of 8192 blocks).
constexpr std::uint32_t kMostBlocks = 8 * 8192;

}  // namespace

bool ParseRetireRule(const std::string& text, RetireRule* rule, std::string* error) {
    RetireRule parsed;
    std::string digits = text;
    if (!digits.empty() && digits[0] == '+') {
        parsed.growth = true;
        digits.erase(0, 1);
    }
    bool ok = !digits.empty() && digits.size() <= 6;
    std::uint32_t value = 0;
    for (char c : digits) {
        ok = ok && c >= '0' && c <= '9';
        if (ok) value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (!ok || value > kMostBlocks) {
        *error = "--retire-above takes a number of bad blocks (0 to " +
                 std::to_string(kMostBlocks) +
                 "), or +N for the growth since a stick's last run, not \"" + text + "\"";
        return false;
    }
    parsed.limit = value;
    *rule = parsed;
    return true;
}

std::string RetireReason(const RetireRule& rule, std::uint32_t badBlocks,
                         const std::optional<std::uint32_t>& previousBadBlocks) {
    const std::string bad =
        std::to_string(badBlocks) + (badBlocks == 1 ? " bad block" : " bad blocks");
    if (!rule.growth) {
        if (badBlocks <= rule.limit) return std::string();
        return bad + ", more than " + std::to_string(rule.limit);
    }
    if (!previousBadBlocks || badBlocks <= *previousBadBlocks + std::uint64_t{rule.limit}) {
        return std::string();
    }
    return bad + ", " + std::to_string(badBlocks - *previousBadBlocks) +
           " more than at its last run, more than +" + std::to_string(rule.limit);
}
