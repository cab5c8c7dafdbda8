#include <windows.h>

#include <algorithm>

#include "cli/output/history_store.h"
#include "cli/shared/json_values.h"
#include "cli/shared/windows_error.h"

// The history on Windows: one JSON object a line in history.jsonl, a run a line, appended while
// the whole file is locked (LockFileEx), read under a shared lock; a lock held elsewhere is
// waited for up to the store's wait, as the Linux store waits for a busy database. A line cut short
// by a crash or a full disk is skipped when read, and the next run starts a line of its own. The
// line keeps every field of HistoryEntry, with "v" its version (kSchemaVersion).

namespace {

template <typename T>
void Take(const Json& line, const char* key, std::optional<T>* value) {
    const auto it = line.find(key);
    if (it != line.end() && !it->is_null()) *value = it->get<T>();
}

Json LineOf(const HistoryEntry& e) {
    Json banks = Json::array();
    for (const HistoryBank& bank : e.banks) {
        Json bad = Json::array();
        for (const HistoryBadBlock& block : bank.bad) {
            bad.push_back({{"block", block.block},
                           {"reason", block.reason},
                           {"unmarkable", block.unmarkable}});
        }
        banks.push_back({{"device_code", bank.deviceCode},
                         {"blocks", bank.blocks},
                         {"bad_blocks", bank.badBlocks},
                         {"spare_blocks", NullUnless(bank.spareBlocks)},
                         {"bad", bad}});
    }
    return {{"v", HistoryStore::kSchemaVersion},
            {"id", e.id},
            {"stick", e.stick},
            {"serial", e.serial},
            {"usb_path", e.usbPath},
            {"node", e.node},
            {"vendor", e.vendor},
            {"product", e.product},
            {"revision", e.revision},
            {"started", e.started},
            {"seconds", e.seconds},
            {"command", e.command},
            {"mode", e.mode},
            {"result", e.result},
            {"exit_code", e.exitCode},
            {"whole", e.whole},
            {"bad_blocks", e.badBlocks},
            {"unmarkable_blocks", e.unmarkableBlocks},
            {"capacity_before", NullUnless(e.capacityBefore)},
            {"capacity_after", NullUnless(e.capacityAfter)},
            {"cis_sectors", NullUnless(e.cisSectors)},
            {"flash_holds_sectors", NullUnless(e.flashHoldsSectors)},
            {"verdict", e.verdict},
            {"verdict_reasons", e.verdictReasons},
            {"backup_file", e.backupFile},
            {"banks", banks}};
}

// The entry of a line; false for a line that is not one (cut short, or of a newer version).
bool EntryOf(const std::string& text, HistoryEntry* e) {
    const Json line = Json::parse(text, nullptr, false);
    if (!line.is_object() || line.value("v", 0) != HistoryStore::kSchemaVersion) return false;
    try {
        e->id = line.at("id").get<std::int64_t>();
        e->stick = line.at("stick").get<std::string>();
        e->serial = line.value("serial", "");
        e->usbPath = line.value("usb_path", "");
        e->node = line.value("node", "");
        e->vendor = line.value("vendor", "");
        e->product = line.value("product", "");
        e->revision = line.value("revision", "");
        e->started = line.value("started", 0LL);
        e->seconds = line.value("seconds", 0.0);
        e->command = line.value("command", "");
        e->mode = line.value("mode", "");
        e->result = line.value("result", "");
        e->exitCode = line.value("exit_code", 0);
        e->whole = line.value("whole", false);
        e->badBlocks = line.value("bad_blocks", 0u);
        e->unmarkableBlocks = line.value("unmarkable_blocks", 0u);
        Take(line, "capacity_before", &e->capacityBefore);
        Take(line, "capacity_after", &e->capacityAfter);
        Take(line, "cis_sectors", &e->cisSectors);
        Take(line, "flash_holds_sectors", &e->flashHoldsSectors);
        e->verdict = line.value("verdict", "");
        e->verdictReasons = line.value("verdict_reasons", std::vector<std::string>());
        e->backupFile = line.value("backup_file", "");
        for (const Json& b : line.value("banks", Json::array())) {
            HistoryBank bank;
            bank.deviceCode = b.value("device_code", std::uint8_t{0});
            bank.blocks = b.value("blocks", 0u);
            bank.badBlocks = b.value("bad_blocks", 0u);
            Take(b, "spare_blocks", &bank.spareBlocks);
            for (const Json& block : b.value("bad", Json::array())) {
                bank.bad.push_back({block.value("block", 0u), block.value("reason", ""),
                                    block.value("unmarkable", false)});
            }
            e->banks.push_back(std::move(bank));
        }
    } catch (const Json::exception&) {
        return false;
    }
    return true;
}

// The whole file locked for as long as the lock lives: shared to read, exclusive to add. A lock
// another process holds is waited for, up to `waitMilliseconds`.
class FileLock {
  public:
    FileLock(HANDLE file, bool exclusive, int waitMilliseconds) : file_(file) {
        constexpr DWORD kRetryMs = 10;
        const DWORD start = GetTickCount();
        for (;;) {
            OVERLAPPED from = {};
            locked_ =
                LockFileEx(file_,
                           (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | LOCKFILE_FAIL_IMMEDIATELY, 0,
                           MAXDWORD, MAXDWORD, &from) != 0;
            error_ = GetLastError();
            if (locked_ || error_ != ERROR_LOCK_VIOLATION ||
                GetTickCount() - start >= static_cast<DWORD>(waitMilliseconds)) {
                return;
            }
            Sleep(kRetryMs);
        }
    }
    ~FileLock() {
        OVERLAPPED from = {};
        if (locked_) UnlockFileEx(file_, 0, MAXDWORD, MAXDWORD, &from);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Locked() const { return locked_; }
    DWORD Error() const { return error_; }

  private:
    HANDLE file_;
    bool locked_ = false;
    DWORD error_ = 0;
};

}  // namespace

struct HistoryStore::Database {
    HANDLE file = INVALID_HANDLE_VALUE;
    ~Database() {
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }

    // Every run the file holds, in the order recorded. False with the reason.
    bool ReadAll(const std::string& path, std::vector<HistoryEntry>* runs, std::string* reason,
                 bool* endsWithLine) const {
        std::string text;
        LARGE_INTEGER at = {};
        SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
        char chunk[65536];
        DWORD got = 0;
        while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
            text.append(chunk, got);
        if (GetLastError() != ERROR_SUCCESS && GetLastError() != ERROR_HANDLE_EOF && got != 0) {
            *reason =
                "the history " + path + " cannot be read: " + WindowsErrorText(GetLastError());
            return false;
        }
        *endsWithLine = text.empty() || text.back() == '\n';
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            HistoryEntry entry;
            if (EntryOf(text.substr(start, end - start), &entry)) runs->push_back(std::move(entry));
            start = end + 1;
        }
        return true;
    }
};

HistoryStore::HistoryStore(std::string path, std::unique_ptr<Database> db, int waitMilliseconds)
    : path_(std::move(path)), db_(std::move(db)), waitMilliseconds_(waitMilliseconds) {}

HistoryStore::~HistoryStore() = default;

std::unique_ptr<HistoryStore> HistoryStore::Open(const std::string& path, std::string* reason,
                                                 int waitMilliseconds,
                                                 const std::optional<FileOwner>& owner) {
    const std::size_t slash = path.find_last_of("\\/");
    if (slash != std::string::npos && slash > 0) {
        std::string why;
        if (!MakeFolders(path.substr(0, slash), &why, owner)) {
            *reason = "the history's folder cannot be made: " + why;
            return nullptr;
        }
    }
    auto db = std::make_unique<Database>();
    // Never through a link: the history is opened as every output is.
    db->file = CreateFileA(path.c_str(), GENERIC_READ | FILE_APPEND_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (db->file == INVALID_HANDLE_VALUE) {
        *reason = "the history " + path + " cannot be opened: " + WindowsErrorText(GetLastError());
        return nullptr;
    }
    if (!GetFileInformationByHandle(db->file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        *reason = "the history " + path + " is not a plain file";
        return nullptr;
    }
    return std::unique_ptr<HistoryStore>(new HistoryStore(path, std::move(db), waitMilliseconds));
}

bool HistoryStore::Record(HistoryEntry* entry, std::string* reason) {
    const FileLock lock(db_->file, true, waitMilliseconds_);
    if (!lock.Locked()) {
        *reason = "the history " + path_ + " cannot be locked: " + WindowsErrorText(lock.Error());
        return false;
    }
    std::vector<HistoryEntry> runs;
    bool endsWithLine = true;
    if (!db_->ReadAll(path_, &runs, reason, &endsWithLine)) return false;
    std::int64_t last = 0;
    for (const HistoryEntry& run : runs) last = std::max(last, run.id);
    entry->id = last + 1;
    // After a line cut short, the run starts a line of its own.
    const std::string line =
        (endsWithLine ? "" : "\n") +
        LineOf(*entry).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    DWORD written = 0;
    if (!WriteFile(db_->file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size() || !FlushFileBuffers(db_->file)) {
        *reason =
            "the history " + path_ + " cannot be written: " + WindowsErrorText(GetLastError());
        return false;
    }
    return true;
}

bool HistoryStore::Runs(const std::string& stick, std::vector<HistoryEntry>* runs,
                        std::string* reason) {
    std::vector<HistoryEntry> all;
    {
        const FileLock lock(db_->file, false, waitMilliseconds_);
        bool endsWithLine = true;
        if (!lock.Locked()) {
            *reason =
                "the history " + path_ + " cannot be locked: " + WindowsErrorText(lock.Error());
            return false;
        }
        if (!db_->ReadAll(path_, &all, reason, &endsWithLine)) return false;
    }
    runs->clear();
    for (HistoryEntry& run : all) {
        if (stick.empty() || run.stick == stick) runs->push_back(std::move(run));
    }
    OrderWithGrowth(runs);
    return true;
}

bool HistoryStore::Previous(const std::string& stick, std::optional<HistoryEntry>* previous,
                            std::string* reason) {
    std::vector<HistoryEntry> runs;
    if (!Runs(stick, &runs, reason)) return false;
    previous->reset();
    for (HistoryEntry& run : runs) {
        if (!run.whole) continue;
        run.banks.clear();
        *previous = std::move(run);
        break;
    }
    return true;
}
