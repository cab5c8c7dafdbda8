#include "cli/output/progress_stream.h"

#include <cmath>

#include "cli/output/verdict_text.h"
#include "cli/shared/json_values.h"
#include "cli/shared/monotonic_clock.h"

namespace {

// A few lines a second are plenty for a display.
constexpr double kPeriodSeconds = 0.25;

void WriteLine(std::FILE* out, const Json& event) {
    const std::string line =
        event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    std::fputs(line.c_str(), out);
    std::fflush(out);
}

template <typename T>
T Field(const Json& event, const char* name, T otherwise) {
    const auto it = event.find(name);
    if (it == event.end() || it->is_null()) return otherwise;
    try {
        return it->get<T>();
    } catch (const nlohmann::json::exception&) {
        return otherwise;
    }
}

}  // namespace

void ProgressEvents::Progress(const ProgressFigures& figures, bool force) {
    if (out_ == nullptr) return;
    const double now = MonotonicSeconds();
    if (!force && last_ >= 0 && now - last_ < kPeriodSeconds) return;
    last_ = now;
    const double rate =
        figures.elapsedSeconds > 0 ? figures.blocksDone / figures.elapsedSeconds : 0.0;
    WriteLine(out_, {{"event", "progress"},
                     {"phase", figures.phase},
                     {"blocks_done", figures.blocksDone},
                     {"blocks_total", figures.totalBlocks},
                     {"bad_blocks", figures.badBlocks},
                     {"blocks_per_second", std::round(rate * 10) / 10},
                     {"elapsed_s", figures.elapsedSeconds}});
}

void ProgressEvents::Backup(const std::string& file) {
    if (out_ != nullptr) WriteLine(out_, {{"event", "backup"}, {"file", file}});
}

void ProgressEvents::End(const RunReport& report) {
    if (out_ == nullptr) return;
    const bool judged = report.health && report.health->judged;
    WriteLine(out_,
              {{"event", "end"},
               {"command", report.command},
               {"result", report.result.empty() ? "failed" : report.result},
               {"exit_code", report.exitCode},
               {"message", report.message},
               {"bad_blocks", report.record.badBlocks},
               {"unmarkable_blocks", report.record.unmarkableBlocks},
               {"erased_blocks", report.record.erasedBlocks},
               {"capacity_after_sectors",
                NullUnless(report.capacityAfterKnown, report.capacityAfterSectors)},
               {"backup_file", NullIfEmpty(report.backupFile)},
               {"pages_lost", PagesLost(report)},
               {"restore_command", NullIfEmpty(report.restoreCommand)},
               {"verdict", judged ? Json(VerdictName(report.health->verdict)) : Json(nullptr)},
               {"verdict_reasons",
                report.health ? VerdictReasons(*report.health) : std::vector<std::string>()},
               {"previous_bad_blocks",
                report.previous ? Json(report.previous->badBlocks) : Json(nullptr)}});
}

bool ReadProgressEvent(const std::string& line, WorkerStatus* status) {
    const Json event = Json::parse(line, nullptr, false);
    if (!event.is_object()) return false;
    const std::string kind = Field<std::string>(event, "event", "");
    WorkerStatus next = *status;
    if (kind == "progress") {
        next.phase = Field<std::string>(event, "phase", next.phase);
        next.blocksDone = Field<std::uint32_t>(event, "blocks_done", next.blocksDone);
        next.totalBlocks = Field<std::uint32_t>(event, "blocks_total", next.totalBlocks);
        next.badBlocks = Field<std::uint32_t>(event, "bad_blocks", next.badBlocks);
    } else if (kind == "backup") {
        next.backupFile = Field<std::string>(event, "file", "");
    } else if (kind == "end") {
        next.ended = true;
        next.exitCode = Field<int>(event, "exit_code", -1);
        next.result = Field<std::string>(event, "result", "failed");
        next.message = Field<std::string>(event, "message", "");
        next.badBlocks = Field<std::uint32_t>(event, "bad_blocks", next.badBlocks);
        next.unmarkable = Field<std::uint32_t>(event, "unmarkable_blocks", 0);
        next.erasedBlocks = Field<std::uint32_t>(event, "erased_blocks", 0);
        const auto capacity = event.find("capacity_after_sectors");
        next.capacityKnown = capacity != event.end() && capacity->is_number_unsigned();
        next.capacitySectors = Field<std::uint32_t>(event, "capacity_after_sectors", 0);
        next.backupFile = Field<std::string>(event, "backup_file", next.backupFile);
        next.pagesLost = Field<bool>(event, "pages_lost", false);
        next.restoreCommand = Field<std::string>(event, "restore_command", "");
        next.verdict = Field<std::string>(event, "verdict", "");
    } else {
        return false;
    }
    *status = next;
    return true;
}
