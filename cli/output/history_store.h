#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/shared/output_file.h"

// Every run of `format` and `check` on this machine, kept in a SQLite database in the user's
// state folder, so that a stick that comes back is known by what happened to it before.
//
// Many station workers write at once: the database is in WAL mode, every write is one
// IMMEDIATE transaction, and a writer that finds it busy waits (the busy timeout) instead of
// failing. A database that is damaged, locked for longer than the wait, of a newer version or
// in a folder that cannot be written is reported with a reason; nothing here throws, and the
// caller goes on with its run.
//
// Schema (PRAGMA user_version = 1):
//   runs        one row a run: the stick's key, serial, USB path, node, INQUIRY texts, start
//               (seconds since 1970), duration, command, mode, result, exit status, whether
//               every block was looked at, bad and unmarkable blocks, capacities, verdict and
//               its reasons (one a line), the backup file of the old pages
//   banks       one row a bank of a run: device code, blocks, bad blocks, spare blocks
//   bad_blocks  one row a bad block of a run: bank, block, reason, whether its mark held

struct HistoryBadBlock {
    std::uint32_t block = 0;
    std::string reason;  // "marked", "erase", "pattern-0x55", ... as in the report
    bool unmarkable = false;
};

struct HistoryBank {
    std::uint8_t deviceCode = 0;
    std::uint32_t blocks = 0;
    std::uint32_t badBlocks = 0;
    std::optional<std::int32_t> spareBlocks;  // known when the run judged the stick
    std::vector<HistoryBadBlock> bad;
};

struct HistoryEntry {
    std::int64_t id = 0;  // given by Record; the order runs were recorded in
    std::string stick;    // what the stick is known by (HistoryStickKey)
    std::string serial;   // its USB serial number; empty when it has none
    std::string usbPath;  // where it was plugged in: its USB path, else its node
    std::string node;
    std::string vendor;
    std::string product;
    std::string revision;
    long long started = 0;  // seconds since 1970
    double seconds = 0;     // how long the run took
    std::string command;    // "format" or "check"
    std::string mode;       // "quick" or "full"; empty for a check
    std::string result;     // "complete", "failed", "cancelled", ...
    int exitCode = 0;
    bool whole = false;  // every block of every bank was looked at: the counts are whole
    std::uint32_t badBlocks = 0;
    std::uint32_t unmarkableBlocks = 0;
    std::optional<std::uint32_t> capacityBefore;  // sectors
    std::optional<std::uint32_t> capacityAfter;
    std::optional<std::uint32_t> cisSectors;  // what the CIS page found announced
    std::optional<std::uint32_t> flashHoldsSectors;
    std::string verdict;  // empty: none
    std::vector<std::string> verdictReasons;
    std::string backupFile;  // where the old pages were kept; empty: none
    std::vector<HistoryBank> banks;

    // Filled in by the queries: the change in bad blocks since the stick's previous whole run,
    // known only when this run is whole and there was one.
    std::optional<std::int64_t> growth;
};

// What a stick is known by: its USB serial number, else where it was plugged in, else its node.
std::string HistoryStickKey(const std::string& serial, const std::string& usbPath,
                            const std::string& node);

// Puts the runs in the order the history shows them, newest first (by start, then by the order
// they were recorded in), each whole run with its growth over the stick's whole run before it.
void OrderWithGrowth(std::vector<HistoryEntry>* runs);

class HistoryStore {
  public:
    static constexpr int kSchemaVersion = 1;
    static constexpr int kDefaultWaitMilliseconds = 10000;

    // Opens the database at `path`, making it (and its folder, for its owner only) when it is
    // not there; what is made is handed to `owner` when one is given. Never through a link.
    // nullptr with the reason when it cannot be used.
    static std::unique_ptr<HistoryStore> Open(const std::string& path, std::string* reason,
                                              int waitMilliseconds = kDefaultWaitMilliseconds,
                                              const std::optional<FileOwner>& owner = std::nullopt);
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    const std::string& Path() const { return path_; }

    // Adds the run, whole or not at all, and sets its id. False with the reason.
    bool Record(HistoryEntry* entry, std::string* reason);

    // The runs of one stick (every stick for an empty key), newest first, each with its growth.
    bool Runs(const std::string& stick, std::vector<HistoryEntry>* runs, std::string* reason);

    // The stick's newest whole run (without its banks), or nothing when it has none.
    bool Previous(const std::string& stick, std::optional<HistoryEntry>* previous,
                  std::string* reason);

  private:
    struct Database;
    HistoryStore(std::string path, std::unique_ptr<Database> db, int waitMilliseconds);
    bool LoadBanks(const std::string& stick, std::vector<HistoryEntry>* runs, std::string* reason);

    std::string path_;
    std::unique_ptr<Database> db_;
    int waitMilliseconds_;
};
