#include "cli/output/report_files.h"

#include <cstdio>
#include <string>

#include "cli/output/block_map_of_run.h"
#include "cli/shared/exit_codes.h"
#include "cli/shared/machine.h"
#include "cli/shared/messages.h"
#include "cli/shared/output_file.h"

namespace {

// The report and its picture; false when a file could not be written (said on standard error).
bool WriteReportFiles(const CliOptions& options, const RunReport& report) {
    bool ok = true;
    const std::string json = ReportJson(report);
    if (options.json) std::fputs(json.c_str(), stdout);
    std::string reason;
    if (!options.reportPath.empty() && !WriteWholeFile(options.reportPath, json, &reason)) {
        Complain(reason + "; the report is not written");
        ok = false;
    }
    if (!options.mapPath.empty() &&
        !WriteWholeFile(options.mapPath, RenderBlockMapSvg(BlockMapOfReport(report)), &reason)) {
        Complain(reason + "; the map is not written");
        ok = false;
    }
    return ok;
}

}  // namespace

int EndReportedCommand(const CliOptions& options, Machine& machine, bool reported,
                       RunReport& report, ProgressEvents& events, int exitCode) {
    if (reported && !WriteReportFiles(options, report) && exitCode == kExitComplete) {
        exitCode = kExitFailed;
    }
    std::string error;
    if (!machine.WriteExports(options, &error)) {
        Complain(error);
        if (exitCode == kExitComplete) exitCode = kExitFailed;
    }
    report.exitCode = exitCode;
    events.End(report);
    return exitCode;
}
