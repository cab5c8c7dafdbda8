#pragma once
#include <optional>
#include <string>
#include <vector>

#include "cli/output/history_store.h"

// The history as `brevant history` shows it: a table for a person, JSON for a script.

// One line a run, newest first as given: when, stick, command and mode, result, bad blocks and
// their growth since the stick's previous whole run, verdict, capacity after. A header first.
std::string HistoryTable(const std::vector<HistoryEntry>& runs);

// {"schema": 1, "runs": [...]}: every field of every run, its banks and bad blocks; times in ISO
// 8601 local time with the offset; what is not known is null. Ends in a line feed.
std::string HistoryJson(const std::vector<HistoryEntry>& runs);

// "Previous run: 27 bad blocks (format, 2026-12-08 09:30)", or "Previous run: none recorded".
std::string PreviousRunText(const std::optional<HistoryEntry>& previous);
