#pragma once
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "format/health_verdict.h"

// The verdict on a stick's health as the command line tells it: in words for a person, in the
// report's JSON for a script.

// "healthy", "worn", "retire" or "counterfeit".
const char* VerdictName(Verdict verdict);

// One finding in a line, with its figures, e.g. "bank 0: 30 of 1024 blocks bad (2.9 %), more
// than the 2 % its flash's maker allows for the part's whole life".
std::string FindingText(const Finding& finding);

// Every finding's line, the gravest first (empty when there is no verdict).
std::vector<std::string> VerdictReasons(const HealthJudgement& judgement);

// What to do with the stick: Quick, Full, retire it, or what a format will make of it.
std::string VerdictAdvice(const HealthJudgement& judgement);

// "counterfeit: announces 8192.0 MiB (16777216 sectors), its flash holds 15.6 MiB (32000
// sectors)", the largest size announced against what the flash holds; empty for a stick that
// is not counterfeit.
std::string CounterfeitText(const HealthJudgement& judgement);

// The lines a check ends with: "Verdict: worn", each reason indented, the advice. Nothing
// when there is no verdict.
std::string VerdictLines(const HealthJudgement& judgement);

// Sets "verdict" (null when there is none), "verdict_reasons" and "health" (the figures behind
// them: sizes, banks with their bad and spare blocks, and the limits) in a report's object.
void AddVerdictJson(const HealthJudgement& judgement, nlohmann::ordered_json* report);
