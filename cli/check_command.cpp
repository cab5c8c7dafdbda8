// brevant check: a look at a stick's health that changes nothing on it.
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/machine.h"
#include "cli/monotonic_clock.h"
#include "cli/progress_view.h"
#include "cli/report_files.h"
#include "cli/run_report.h"
#include "cli/run_summary.h"
#include "cli/stick_choice.h"
#include "cli/stop_signals.h"
#include "format/health_scan.h"
#include "reader/port_command.h"

namespace {

double SecondsSince(double start) { return MonotonicSeconds() - start; }

std::string Hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

void FillReport(const HealthScan& scan, RunReport* report) {
    report->record.banks = scan.banks;
    for (const BankRecord& bank : scan.banks) {
        report->record.badBlocks += static_cast<std::uint32_t>(bank.bad.size());
    }
    report->capacityBeforeKnown = scan.capacityRead;
    report->capacityBeforeSectors = scan.logicalSectors;
    if (scan.cisPage >= 0 && scan.cisDecoded) {
        report->cis.page = scan.cisPage;
        report->cis.totals = scan.cis.totals;
        report->cis.banks = scan.cis.banks;
        report->cis.sectors = scan.cis.sectors;
        report->cis.hasVendorPage = scan.vendorPage;
    }
    if (scan.volumeFound) {
        report->volume.present = true;
        report->volume.fat16 = scan.volume.type == FatType::Fat16;
        report->volume.sectors = scan.volume.totalSectors;
        report->volume.sectorsPerCluster = scan.volume.sectorsPerCluster;
        report->volume.clusters = scan.volume.clusters;
    }
}

// What the look found, as a person reads it.
std::string CheckSummary(const HealthScan& scan) {
    std::string text;
    text += "Logical size: " +
            (scan.capacityRead ? SizeText(scan.logicalSectors) : std::string("not formatted")) +
            "\n";
    for (std::size_t b = 0; b < scan.banks.size(); ++b) {
        const BankRecord& bank = scan.banks[b];
        text += "Bank " + std::to_string(b) + ": device code " + Hex(bank.deviceCode) + ", " +
                std::to_string(bank.blocks) + " blocks of " + std::to_string(bank.pagesPerBlock) +
                " pages; " + std::to_string(bank.bad.size()) + " marked bad, " +
                std::to_string(bank.holdingData.size()) + " holding data";
        if (!bank.bad.empty()) {
            text += " (bad:";
            for (std::size_t i = 0; i < bank.bad.size() && i < 16; ++i) {
                text += " " + std::to_string(bank.bad[i].block);
            }
            text += bank.bad.size() > 16 ? " ...)" : ")";
        }
        text += "\n";
    }
    if (scan.cisPage < 0) {
        text += "CIS page: none\n";
    } else if (!scan.cisDecoded) {
        text +=
            "CIS page: page " + std::to_string(scan.cisPage) + ", but it does not read as one\n";
    } else {
        std::string totals;
        for (std::uint8_t b = 0; b < scan.cis.banks; ++b) {
            totals += (b == 0 ? "" : ", ") + std::to_string(scan.cis.totals[b]);
        }
        text += "CIS page: page " + std::to_string(scan.cisPage) + ", bank totals " + totals +
                ", capacity " + SizeText(scan.cis.sectors) +
                (scan.cisTotalsAgree ? "" : " (its totals do not add up)") + "\n";
        text += std::string("Vendor page: ") + (scan.vendorPage ? "follows it" : "none") + "\n";
    }
    if (scan.volumeFound) {
        text += std::string("Volume: ") + (scan.volume.type == FatType::Fat16 ? "FAT16" : "FAT12") +
                ", " + SizeText(scan.volume.totalSectors) + ", " +
                std::to_string(scan.volume.sectorsPerCluster) + " sectors a cluster, " +
                std::to_string(scan.volume.clusters) + " clusters, label \"" + scan.volume.label +
                "\"\n";
    } else {
        text += "Volume: no FAT volume found\n";
    }
    return text;
}

int Check(const CliOptions& options, Machine& machine, std::FILE* out) {
    RunReport report;
    report.command = "check";
    report.started = IsoLocalTime(static_cast<long long>(std::time(nullptr)));
    const std::uint64_t commandsBefore = CommandsSent();
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

    InstallStopSignals();
    ProgressView view(out, ::isatty(::fileno(out)) == 1, options.verbosity < 0 || options.json);
    const HealthScan scan = ScanHealth(kMediaUsbDisk, [&](std::uint32_t done, std::uint32_t all) {
        ProgressFigures figures;
        figures.blocksDone = done;
        figures.totalBlocks = all;
        figures.elapsedSeconds = SecondsSince(started);
        figures.phase = "look";
        view.Update(figures, done == all);
        return StopSignalCount() == 0;
    });
    view.Break();

    FillReport(scan, &report);
    report.elapsedSeconds = SecondsSince(started);
    report.commands = CommandsSent() - commandsBefore;
    if (!scan.ready) {
        report.result = "failed";
        report.message = "the stick is not ready";
        report.exitCode = kExitNoDisk;
    } else if (!scan.banksKnown) {
        report.result = "failed";
        report.message = "the stick's flash banks could not be read";
        report.exitCode = kExitFailed;
    } else if (scan.stopped) {
        report.result = "cancelled";
        report.message = "stopped before every block was read";
        report.exitCode = kExitCancelled;
    } else {
        report.result = "complete";
    }
    if (!options.json) {
        if (!report.message.empty()) Complain(stick.unit.node + ": " + report.message);
        std::fputs(CheckSummary(scan).c_str(), out);
    }
    std::fflush(out);
    if (!WriteReportFiles(options, report) && report.exitCode == kExitComplete) return kExitFailed;
    return report.exitCode;
}

}  // namespace

int RunCheckCommand(const CliOptions& options) {
    std::string error;
    int exitCode = kExitFailed;
    auto machine = Machine::Open(options, &exitCode);
    if (!machine) return exitCode;
    int code = Check(options, *machine, options.json ? stderr : stdout);
    if (!machine->WriteExports(options, &error)) {
        Complain(error);
        if (code == kExitComplete) code = kExitFailed;
    }
    return code;
}
