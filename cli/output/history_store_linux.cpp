#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

#include "cli/output/history_store.h"

namespace {

const char kSchema[] = R"sql(
CREATE TABLE runs (
    id INTEGER PRIMARY KEY,
    stick TEXT NOT NULL,
    serial TEXT,
    usb_path TEXT,
    node TEXT,
    vendor TEXT,
    product TEXT,
    revision TEXT,
    started INTEGER NOT NULL,
    seconds REAL NOT NULL,
    command TEXT NOT NULL,
    mode TEXT,
    result TEXT NOT NULL,
    exit_code INTEGER NOT NULL,
    whole INTEGER NOT NULL,
    bad_blocks INTEGER NOT NULL,
    unmarkable_blocks INTEGER NOT NULL,
    capacity_before INTEGER,
    capacity_after INTEGER,
    cis_sectors INTEGER,
    flash_holds_sectors INTEGER,
    verdict TEXT,
    verdict_reasons TEXT NOT NULL,
    backup_file TEXT
);
CREATE INDEX runs_of_stick ON runs (stick, whole, started, id);
CREATE TABLE banks (
    run INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE,
    bank INTEGER NOT NULL,
    device_code INTEGER NOT NULL,
    blocks INTEGER NOT NULL,
    bad_blocks INTEGER NOT NULL,
    spare_blocks INTEGER,
    PRIMARY KEY (run, bank)
) WITHOUT ROWID;
CREATE TABLE bad_blocks (
    run INTEGER NOT NULL,
    bank INTEGER NOT NULL,
    block INTEGER NOT NULL,
    reason TEXT NOT NULL,
    unmarkable INTEGER NOT NULL,
    PRIMARY KEY (run, bank, block),
    FOREIGN KEY (run, bank) REFERENCES banks (run, bank) ON DELETE CASCADE
) WITHOUT ROWID;
)sql";

// The columns of runs in the order ReadRun takes them.
const char kRunColumns[] =
    "id, stick, serial, usb_path, node, vendor, product, revision, started, seconds, command, "
    "mode, result, exit_code, whole, bad_blocks, unmarkable_blocks, capacity_before, "
    "capacity_after, cis_sectors, flash_holds_sectors, verdict, verdict_reasons, backup_file";

// The rows of banks and bad_blocks that belong to the runs of stick ?1 (every stick for '').
const char kRunsOfStick[] = "run IN (SELECT id FROM runs WHERE ?1 = '' OR stick = ?1)";

// One prepared statement, finalised when it goes.
class Statement {
  public:
    Statement(sqlite3* db, const std::string& sql) {
        code_ = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr);
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    int Code() const { return code_; }
    bool Prepared() const { return code_ == SQLITE_OK; }

    // Ready to be bound and run again.
    Statement& Reset() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
        if (code_ == SQLITE_ROW || code_ == SQLITE_DONE) code_ = SQLITE_OK;
        bound_ = 0;
        return *this;
    }
    // Binds in the order of the statement's parameters, from the first.
    Statement& Text(const std::string& value) {
        Note(sqlite3_bind_text(statement_, ++bound_, value.c_str(), static_cast<int>(value.size()),
                               SQLITE_TRANSIENT));
        return *this;
    }
    // An empty text as NULL.
    Statement& TextOrNull(const std::string& value) {
        if (!value.empty()) return Text(value);
        Note(sqlite3_bind_null(statement_, ++bound_));
        return *this;
    }
    Statement& Integer(std::int64_t value) {
        Note(sqlite3_bind_int64(statement_, ++bound_, value));
        return *this;
    }
    Statement& Real(double value) {
        Note(sqlite3_bind_double(statement_, ++bound_, value));
        return *this;
    }
    template <typename T>
    Statement& Maybe(const std::optional<T>& value) {
        if (value) return Integer(static_cast<std::int64_t>(*value));
        Note(sqlite3_bind_null(statement_, ++bound_));
        return *this;
    }

    // SQLITE_ROW, SQLITE_DONE or the error.
    int Step() {
        if (code_ != SQLITE_OK && code_ != SQLITE_ROW && code_ != SQLITE_DONE) return code_;
        code_ = sqlite3_step(statement_);
        return code_;
    }
    // Step until done; the error, or SQLITE_DONE.
    int Run() {
        while (Step() == SQLITE_ROW) {
        }
        return code_;
    }

    std::int64_t Int(int column) const { return sqlite3_column_int64(statement_, column); }
    double Double(int column) const { return sqlite3_column_double(statement_, column); }
    bool Null(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
    std::string String(int column) const {
        const unsigned char* text = sqlite3_column_text(statement_, column);
        return text == nullptr
                   ? std::string()
                   : std::string(
                         reinterpret_cast<const char*>(text),
                         static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
    }
    std::optional<std::uint32_t> Count(int column) const {
        if (Null(column)) return std::nullopt;
        return static_cast<std::uint32_t>(Int(column));
    }

  private:
    void Note(int code) {
        if (code != SQLITE_OK && code_ == SQLITE_OK) code_ = code;
    }
    sqlite3_stmt* statement_ = nullptr;
    int code_ = SQLITE_OK;
    int bound_ = 0;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string JoinedLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        std::string one = line;
        std::replace(one.begin(), one.end(), '\n', ' ');
        text += (text.empty() ? "" : "\n") + one;
    }
    return text;
}

std::string Seconds(int milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", milliseconds / 1000.0);
    return text;
}

// Makes the database's file before SQLite opens it, when it is not there: readable by its owner
// alone, and handed to `owner` when one is given (SQLite, run as root, gives its journal and
// shared-memory files the owner of the database's file). A file that is there is left as it is.
bool MakeOwnedFile(const std::string& path, const std::optional<FileOwner>& owner,
                   std::string* reason) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST) return true;
        *reason = "the history " + path + " cannot be made (" + std::strerror(errno) + ")";
        return false;
    }
    const bool handed = !owner || ::fchown(fd, owner->uid, owner->gid) == 0;
    const int error = errno;
    ::close(fd);
    if (!handed) {
        *reason =
            "the history " + path + " cannot be given to its user (" + std::strerror(error) + ")";
    }
    return handed;
}

HistoryEntry ReadRun(const Statement& s) {
    HistoryEntry e;
    int c = 0;
    e.id = s.Int(c++);
    e.stick = s.String(c++);
    e.serial = s.String(c++);
    e.usbPath = s.String(c++);
    e.node = s.String(c++);
    e.vendor = s.String(c++);
    e.product = s.String(c++);
    e.revision = s.String(c++);
    e.started = s.Int(c++);
    e.seconds = s.Double(c++);
    e.command = s.String(c++);
    e.mode = s.String(c++);
    e.result = s.String(c++);
    e.exitCode = static_cast<int>(s.Int(c++));
    e.whole = s.Int(c++) != 0;
    e.badBlocks = static_cast<std::uint32_t>(s.Int(c++));
    e.unmarkableBlocks = static_cast<std::uint32_t>(s.Int(c++));
    e.capacityBefore = s.Count(c++);
    e.capacityAfter = s.Count(c++);
    e.cisSectors = s.Count(c++);
    e.flashHoldsSectors = s.Count(c++);
    e.verdict = s.String(c++);
    e.verdictReasons = Lines(s.String(c++));
    e.backupFile = s.String(c++);
    return e;
}

}  // namespace

struct HistoryStore::Database {
    sqlite3* handle = nullptr;
    ~Database() { sqlite3_close_v2(handle); }

    // Runs SQL without results; the SQLite code.
    int Exec(const char* sql) { return sqlite3_exec(handle, sql, nullptr, nullptr, nullptr); }

    // Why a command failed, as the user reads it.
    std::string Trouble(const std::string& path, int code, int waitMilliseconds) const {
        const std::string what = handle != nullptr ? sqlite3_errmsg(handle) : sqlite3_errstr(code);
        switch (code & 0xFF) {
            case SQLITE_NOTADB:
            case SQLITE_CORRUPT:
            case SQLITE_SCHEMA:
                return "the history " + path + " is damaged (" + what +
                       "); move it away and a new one is started";
            case SQLITE_BUSY:
            case SQLITE_LOCKED:
                return "the history " + path + " stayed locked by another program for " +
                       Seconds(waitMilliseconds) + " s";
            case SQLITE_FULL:
                return "the history " + path + " cannot grow: the disk is full";
            default:
                return "the history " + path + " cannot be used (" + what + ")";
        }
    }
};

HistoryStore::HistoryStore(std::string path, std::unique_ptr<Database> db, int waitMilliseconds)
    : path_(std::move(path)), db_(std::move(db)), waitMilliseconds_(waitMilliseconds) {}

HistoryStore::~HistoryStore() = default;

std::unique_ptr<HistoryStore> HistoryStore::Open(const std::string& path, std::string* reason,
                                                 int waitMilliseconds,
                                                 const std::optional<FileOwner>& owner) {
    try {
        const std::size_t slash = path.find_last_of('/');
        if (slash != std::string::npos && slash > 0) {
            std::string why;
            if (!MakeFolders(path.substr(0, slash), &why, owner)) {
                *reason = "the history's folder cannot be made: " + why;
                return nullptr;
            }
        }
        if (!MakeOwnedFile(path, owner, reason)) return nullptr;
        auto db = std::make_unique<Database>();
        // Never through a link: the database is opened as every output is.
        int code = sqlite3_open_v2(
            path.c_str(), &db->handle,
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr);
        if (code != SQLITE_OK) {
            *reason = db->Trouble(path, code, waitMilliseconds);
            return nullptr;
        }
        sqlite3_busy_timeout(db->handle, waitMilliseconds);
        // The schema is made, or its version read, inside one write transaction, so that many
        // workers opening a new database at once make it once.
        int version = 0;
        code = db->Exec("BEGIN IMMEDIATE");
        if (code == SQLITE_OK) {
            Statement read(db->handle, "PRAGMA user_version");
            code = read.Step();
            if (code == SQLITE_ROW) {
                version = static_cast<int>(read.Int(0));
                code = SQLITE_OK;
            }
        }
        if (code == SQLITE_OK && version == 0) {
            code = db->Exec(kSchema);
            if (code == SQLITE_OK) {
                code =
                    db->Exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
            }
        }
        if (code == SQLITE_OK && version > kSchemaVersion) {
            db->Exec("ROLLBACK");
            *reason = "the history " + path + " was written by a newer brevant (its version " +
                      std::to_string(version) + ", this one knows " +
                      std::to_string(kSchemaVersion) + ")";
            return nullptr;
        }
        if (code == SQLITE_OK) code = db->Exec("COMMIT");
        if (code != SQLITE_OK) {
            *reason = db->Trouble(path, code, waitMilliseconds);
            db->Exec("ROLLBACK");
            return nullptr;
        }
        // Readers do not hold up writers, nor writers readers. A database that stays in another
        // mode (another program holds it) still works, only with more waiting.
        db->Exec("PRAGMA journal_mode = WAL");
        // In WAL mode a commit that does not wait for the disk cannot damage the database; a
        // power cut may only lose the last runs.
        db->Exec("PRAGMA synchronous = NORMAL");
        db->Exec("PRAGMA foreign_keys = ON");
        return std::unique_ptr<HistoryStore>(
            new HistoryStore(path, std::move(db), waitMilliseconds));
    } catch (const std::exception& e) {
        *reason = "the history " + path + " cannot be used (" + e.what() + ")";
        return nullptr;
    }
}

bool HistoryStore::Record(HistoryEntry* entry, std::string* reason) {
    try {
        int code = db_->Exec("BEGIN IMMEDIATE");
        if (code == SQLITE_OK) {
            const HistoryEntry& e = *entry;
            Statement run(db_->handle, std::string("INSERT INTO runs (") + kRunColumns +
                                           ") VALUES (NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                                           "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
            run.Text(e.stick)
                .TextOrNull(e.serial)
                .TextOrNull(e.usbPath)
                .TextOrNull(e.node)
                .TextOrNull(e.vendor)
                .TextOrNull(e.product)
                .TextOrNull(e.revision)
                .Integer(e.started)
                .Real(e.seconds)
                .Text(e.command)
                .TextOrNull(e.mode)
                .Text(e.result)
                .Integer(e.exitCode)
                .Integer(e.whole ? 1 : 0)
                .Integer(e.badBlocks)
                .Integer(e.unmarkableBlocks)
                .Maybe(e.capacityBefore)
                .Maybe(e.capacityAfter)
                .Maybe(e.cisSectors)
                .Maybe(e.flashHoldsSectors)
                .TextOrNull(e.verdict)
                .Text(JoinedLines(e.verdictReasons))
                .TextOrNull(e.backupFile);
            code = run.Run();
        }
        const std::int64_t id = sqlite3_last_insert_rowid(db_->handle);
        for (std::size_t b = 0; code == SQLITE_DONE && b < entry->banks.size(); ++b) {
            const HistoryBank& bank = entry->banks[b];
            Statement row(db_->handle,
                          "INSERT INTO banks (run, bank, device_code, blocks, bad_blocks, "
                          "spare_blocks) VALUES (?, ?, ?, ?, ?, ?)");
            code = row.Integer(id)
                       .Integer(static_cast<std::int64_t>(b))
                       .Integer(bank.deviceCode)
                       .Integer(bank.blocks)
                       .Integer(bank.badBlocks)
                       .Maybe(bank.spareBlocks)
                       .Run();
            Statement bad(db_->handle,
                          "INSERT INTO bad_blocks (run, bank, block, reason, unmarkable) "
                          "VALUES (?, ?, ?, ?, ?)");
            for (std::size_t i = 0; code == SQLITE_DONE && i < bank.bad.size(); ++i) {
                code = bad.Reset()
                           .Integer(id)
                           .Integer(static_cast<std::int64_t>(b))
                           .Integer(bank.bad[i].block)
                           .Text(bank.bad[i].reason)
                           .Integer(bank.bad[i].unmarkable ? 1 : 0)
                           .Run();
            }
        }
        if (code == SQLITE_DONE) code = db_->Exec("COMMIT");
        if (code != SQLITE_OK) {
            *reason = db_->Trouble(path_, code, waitMilliseconds_);
            db_->Exec("ROLLBACK");
            return false;
        }
        entry->id = id;
        return true;
    } catch (const std::exception& e) {
        db_->Exec("ROLLBACK");
        *reason = "the history " + path_ + " cannot be used (" + e.what() + ")";
        return false;
    }
}

bool HistoryStore::Runs(const std::string& stick, std::vector<HistoryEntry>* runs,
                        std::string* reason) {
    runs->clear();
    try {
        // One snapshot for the runs and their banks.
        int code = db_->Exec("BEGIN");
        if (code == SQLITE_OK) {
            Statement select(db_->handle, std::string("SELECT ") + kRunColumns +
                                              " FROM runs WHERE ?1 = '' OR stick = ?1 "
                                              "ORDER BY stick, started, id");
            select.Text(stick);
            while ((code = select.Step()) == SQLITE_ROW) runs->push_back(ReadRun(select));
        }
        if (code == SQLITE_DONE) code = LoadBanks(stick, runs, reason) ? SQLITE_OK : SQLITE_ERROR;
        db_->Exec("COMMIT");
        if (code != SQLITE_OK) {
            if (code != SQLITE_ERROR || reason->empty()) {
                *reason = db_->Trouble(path_, code, waitMilliseconds_);
            }
            runs->clear();
            return false;
        }
    } catch (const std::exception& e) {
        db_->Exec("COMMIT");
        *reason = "the history " + path_ + " cannot be used (" + e.what() + ")";
        runs->clear();
        return false;
    }
    OrderWithGrowth(runs);
    return true;
}

bool HistoryStore::LoadBanks(const std::string& stick, std::vector<HistoryEntry>* runs,
                             std::string* reason) {
    std::map<std::int64_t, HistoryEntry*> byId;
    for (HistoryEntry& e : *runs) byId[e.id] = &e;
    Statement banks(db_->handle,
                    std::string("SELECT run, bank, device_code, blocks, bad_blocks, spare_blocks "
                                "FROM banks WHERE ") +
                        kRunsOfStick + " ORDER BY run, bank");
    banks.Text(stick);
    int code;
    while ((code = banks.Step()) == SQLITE_ROW) {
        auto run = byId.find(banks.Int(0));
        if (run == byId.end()) continue;
        HistoryBank bank;
        bank.deviceCode = static_cast<std::uint8_t>(banks.Int(2));
        bank.blocks = static_cast<std::uint32_t>(banks.Int(3));
        bank.badBlocks = static_cast<std::uint32_t>(banks.Int(4));
        if (!banks.Null(5)) bank.spareBlocks = static_cast<std::int32_t>(banks.Int(5));
        std::vector<HistoryBank>& list = run->second->banks;
        list.resize(std::max<std::size_t>(list.size(), static_cast<std::size_t>(banks.Int(1)) + 1));
        list[static_cast<std::size_t>(banks.Int(1))] = bank;
    }
    if (code != SQLITE_DONE) {
        *reason = db_->Trouble(path_, code, waitMilliseconds_);
        return false;
    }
    Statement bad(
        db_->handle,
        std::string("SELECT run, bank, block, reason, unmarkable FROM bad_blocks WHERE ") +
            kRunsOfStick + " ORDER BY run, bank, block");
    bad.Text(stick);
    while ((code = bad.Step()) == SQLITE_ROW) {
        auto run = byId.find(bad.Int(0));
        const std::size_t bank = static_cast<std::size_t>(bad.Int(1));
        if (run == byId.end() || bank >= run->second->banks.size()) continue;
        HistoryBadBlock block;
        block.block = static_cast<std::uint32_t>(bad.Int(2));
        block.reason = bad.String(3);
        block.unmarkable = bad.Int(4) != 0;
        run->second->banks[bank].bad.push_back(block);
    }
    if (code != SQLITE_DONE) {
        *reason = db_->Trouble(path_, code, waitMilliseconds_);
        return false;
    }
    return true;
}

bool HistoryStore::Previous(const std::string& stick, std::optional<HistoryEntry>* previous,
                            std::string* reason) {
    previous->reset();
    try {
        Statement select(db_->handle, std::string("SELECT ") + kRunColumns +
                                          " FROM runs WHERE stick = ? AND whole = 1 "
                                          "ORDER BY started DESC, id DESC LIMIT 1");
        select.Text(stick);
        const int code = select.Step();
        if (code == SQLITE_ROW) {
            *previous = ReadRun(select);
            return true;
        }
        if (code == SQLITE_DONE) return true;
        *reason = db_->Trouble(path_, code, waitMilliseconds_);
        return false;
    } catch (const std::exception& e) {
        *reason = "the history " + path_ + " cannot be used (" + e.what() + ")";
        return false;
    }
}
