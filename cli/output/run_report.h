#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/output/history_store.h"
#include "cli/shared/device_identity.h"
#include "core/format_settings.h"
#include "core/format_types.h"
#include "format/health_verdict.h"
#include "format/run_record.h"

// The report of one run of `format` or `check`, as a script reads it: JSON after the schema in
// cli/output/report.schema.json. Everything a run may not have learnt is null rather than made up.

// 2: a check's exit code tells its verdict; the verdict, its reasons and figures, the blocks a
// run erased, the stick's previous run, the volume's label and the command that puts lost pages
// back were added.
constexpr int kReportSchemaVersion = 2;

struct ReportVolume {
    bool present = false;
    std::string label;  // as the boot sector has it, blanks trimmed ("NO NAME" for none)
    bool fat16 = false;
    std::uint32_t sectors = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t clusters = 0;
};

struct ReportCis {
    std::int32_t page = -1;  // -1: none written (format) or found (check)
    BankSectorTotals totals{};
    std::uint8_t banks = 0;  // how many of the totals belong to banks
    std::uint32_t sectors = 0;
    bool hasVendorPage = false;  // check: a vendor page follows the page found
};

struct RunReport {
    std::string command;  // "format" or "check"
    bool hasMode = false;
    FormatMode mode = FormatMode::Quick;
    FormatSettings settings;
    std::string started;  // ISO 8601 with the offset from UTC
    double elapsedSeconds = 0;
    DeviceIdentity device;
    // complete, failed, cancelled, removed, unresponsive, write-protected, retired
    std::string result;
    int exitCode = 0;
    std::string message;
    bool capacityBeforeKnown = false;
    std::uint32_t capacityBeforeSectors = 0;
    bool capacityAfterKnown = false;
    std::uint32_t capacityAfterSectors = 0;
    RunRecord record;        // banks, old pages, blocks
    std::string backupFile;  // format: the file the old pages were kept in; empty: none
    // format: the command that puts the old pages back, when the run could not; empty otherwise
    std::string restoreCommand;
    std::vector<std::uint32_t> blocksHoldingData;  // check: per bank
    ReportCis cis;
    ReportVolume volume;
    std::uint64_t commands = 0;
    // The verdict on the stick's health, when the run learnt enough for one (see health_verdict.h).
    std::optional<HealthJudgement> health;
    // The stick's previous whole run, as the history has it.
    std::optional<HistoryEntry> previous;
};

// Whether the run's old pages are gone from the stick and wait in its backup file.
bool PagesLost(const RunReport& report);

// The result word of a format's end.
const char* ResultName(RunEnd end);
// "marked", "erase", "pattern-ascending", "pattern-0x55", "pattern-0xaa", "not-free".
const char* BadReasonName(BadReason reason);

// The report as JSON text (one object, ending in a line feed).
std::string ReportJson(const RunReport& report);

// The local time as ISO 8601 with its offset, e.g. 2026-12-08T09:30:00+01:00.
std::string IsoLocalTime(long long secondsSinceEpoch);
