#include "cli/report_files.h"

#include <cstdio>
#include <string>

#include "cli/block_map_of_run.h"
#include "cli/output_file.h"
#include "cli/stick_choice.h"

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
