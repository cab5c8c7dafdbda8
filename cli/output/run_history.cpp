#include "cli/output/run_history.h"

#include "cli/output/history_entry.h"
#include "cli/shared/messages.h"
#include "cli/shared/state_folder.h"

std::string HistoryKeyOf(const DeviceIdentity& stick) {
    return HistoryStickKey(stick.serial, stick.usbPort, stick.node);
}

RunHistory::RunHistory() {
    const std::string path = HistoryPath();
    std::string reason;
    store_ = HistoryStore::Open(path, &reason, HistoryStore::kDefaultWaitMilliseconds,
                                OwnerOfStateFiles(path));
    if (!store_) Warn(reason);
}

void RunHistory::Warn(const std::string& reason) {
    if (warned_) return;
    warned_ = true;
    Complain("warning: " + reason + "; this run is not kept in the history");
}

std::optional<HistoryEntry> RunHistory::Previous(const DeviceIdentity& stick) {
    std::optional<HistoryEntry> previous;
    std::string reason;
    if (store_ && !store_->Previous(HistoryKeyOf(stick), &previous, &reason)) Warn(reason);
    return previous;
}

void RunHistory::Record(const RunReport& report, long long startedSeconds) {
    if (!store_) return;
    HistoryEntry entry =
        HistoryEntryOfReport(report, startedSeconds, report.health ? &*report.health : nullptr,
                             report.device.usbPort, report.backupFile);
    std::string reason;
    if (!store_->Record(&entry, &reason)) Warn(reason);
}
