#pragma once
#include <cstdint>
#include <optional>
#include <string>

// A station's rule for sticks not worth formatting (--retire-above): more than N bad blocks, or,
// written +N, more than N bad blocks gained since the stick's previous whole run in the history.

struct RetireRule {
    bool growth = false;  // +N: judged by the growth since the previous run
    std::uint32_t limit = 0;
};

// "40" or "+5". False with a reason naming the text for anything else.
bool ParseRetireRule(const std::string& text, RetireRule* rule, std::string* error);

// Why the stick is to be left unformatted under the rule ("45 bad blocks, more than 40" or
// "12 bad blocks, 7 more than at its last run, more than +5"), or "" when it is not. A growth
// rule retires no stick the history does not know yet.
std::string RetireReason(const RetireRule& rule, std::uint32_t badBlocks,
                         const std::optional<std::uint32_t>& previousBadBlocks);
