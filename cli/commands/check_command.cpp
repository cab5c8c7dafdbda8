// brevant check: a look at a stick's health that changes nothing on it.

#include <cstdio>
#include <ctime>
#include <string>

#include "cli/commands/commands.h"
#include "cli/output/health_text.h"
#include "cli/output/history_text.h"
#include "cli/output/progress_stream.h"
#include "cli/output/report_files.h"
#include "cli/output/run_history.h"
#include "cli/output/run_report.h"
#include "cli/output/verdict_text.h"
#include "cli/shared/exit_codes.h"
#include "cli/shared/machine.h"
#include "cli/shared/messages.h"
#include "cli/shared/monotonic_clock.h"
#include "cli/shared/stick_choice.h"
#include "cli/shared/stop_signals.h"
#include "format/health_scan.h"
#include "reader/reader_unit.h"

namespace {

double SecondsSince(double start) { return MonotonicSeconds() - start; }

// A finished look's exit status: the verdict's, or why there is none.
int ExitCodeOf(const HealthScan& scan, const HealthJudgement& judgement) {
    if (!scan.ready) return kExitNoDisk;
    if (!scan.banksKnown) return kExitFailed;
    if (judgement.judged) {
        switch (judgement.verdict) {
            case Verdict::Healthy:
                break;
            case Verdict::Worn:
                return kExitWorn;
            case Verdict::Retire:
                return kExitRetire;
            case Verdict::Counterfeit:
                return kExitCounterfeit;
        }
    }
    return scan.stopped ? kExitCancelled : kExitComplete;
}

// The look, from choosing the stick to the report's figures; `reported`: whether there is a
// look to report.
int Check(const CliOptions& options, Machine& machine, std::FILE* out, ProgressEvents& events,
          RunReport& report, bool* reported) {
    report.command = "check";
    const long long startedAt = static_cast<long long>(std::time(nullptr));
    report.started = IsoLocalTime(startedAt);
    const double started = MonotonicSeconds();

    int exitCode = kExitFailed;
    ChosenStick stick;
    // Nothing is written, so a stick in use may be looked at.
    if (!ChooseStick(machine, options, "check", false, &stick, &exitCode)) return exitCode;
    report.device = stick.identity;
    if (options.verbosity >= 0) {
        std::fprintf(out, "Device: %s  %s %s %s\n", stick.unit.node.c_str(),
                     stick.identity.vendor.c_str(), stick.identity.product.c_str(),
                     stick.identity.revision.c_str());
    }
    RunHistory history;
    report.previous = history.Previous(stick.identity);

    InstallStopSignals();
    ReaderUnit disk(stick.GetReader(), kMediaUsbDisk);
    const HealthScan scan = LookAtEveryBlock(
        disk, out, options.verbosity < 0 || options.json || options.progressJson, events);

    FillCheckReport(scan, &report);
    report.health = JudgeHealth(HealthFactsOfScan(scan));
    report.elapsedSeconds = SecondsSince(started);
    report.commands = stick.GetReader().Commands().CommandsSent();
    report.exitCode = ExitCodeOf(scan, *report.health);
    if (!scan.ready) {
        report.result = "failed";
        report.message = "the stick is not ready";
    } else if (!scan.banksKnown) {
        report.result = "failed";
        report.message = "the stick's flash banks could not be read";
    } else if (scan.stopped) {
        report.result = "cancelled";
        report.message = "stopped before every block was read";
    } else {
        report.result = "complete";
    }
    if (!options.json) {
        if (!report.message.empty()) Complain(stick.unit.node + ": " + report.message);
        std::fputs(CheckSummary(scan, *report.health).c_str(), out);
        std::fputs((PreviousRunText(report.previous) + "\n").c_str(), out);
        std::fputs(VerdictLines(*report.health).c_str(), out);
    }
    std::fflush(out);
    if (scan.ready) history.Record(report, startedAt);
    *reported = true;
    return report.exitCode;
}

}  // namespace

int RunCheckCommand(const CliOptions& options) {
    int exitCode = kExitFailed;
    auto machine = Machine::Open(options, &exitCode);
    if (!machine) return exitCode;
    ProgressEvents events(options.progressJson ? stdout : nullptr);
    RunReport report;
    bool reported = false;
    // With --json or --progress json standard output holds JSON alone; the words go to
    // standard error.
    const int code =
        Check(options, *machine, options.json || options.progressJson ? stderr : stdout, events,
              report, &reported);
    return EndReportedCommand(options, *machine, reported, report, events, code);
}
