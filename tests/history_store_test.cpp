// The history of every stick's runs: what goes in comes out, newest first with the growth of its
// bad blocks; many writers at once lose nothing; a damaged or locked database is a reason, never
// a crash.
#include "cli/output/history_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/temp_dir.h"

namespace {

HistoryEntry Entry(const std::string& stick, long long started, const std::string& command,
                   std::uint32_t bad, bool whole = true) {
    HistoryEntry e;
    e.stick = stick;
    e.serial = stick;
    e.node = "sim:E";
    e.usbPath = "sim:E";
    e.vendor = "GENERIC";
    e.product = "USB DISK";
    e.started = started;
    e.seconds = 1.5;
    e.command = command;
    e.mode = command == "format" ? "quick" : "";
    e.result = whole ? "complete" : "cancelled";
    e.exitCode = whole ? 0 : 3;
    e.whole = whole;
    e.badBlocks = bad;
    HistoryBank bank;
    bank.deviceCode = 0x73;
    bank.blocks = 1024;
    bank.badBlocks = bad;
    for (std::uint32_t i = 0; i < bad; ++i) {
        bank.bad.push_back({10 + i * 3, i % 2 == 0 ? "marked" : "erase", i == 1});
    }
    e.banks.push_back(bank);
    return e;
}

std::unique_ptr<HistoryStore> OpenOk(const std::string& path, int waitMilliseconds = 10000) {
    std::string reason;
    auto store = HistoryStore::Open(path, &reason, waitMilliseconds);
    EXPECT_NE(store, nullptr) << reason;
    return store;
}

void RecordOk(HistoryStore& store, HistoryEntry entry) {
    std::string reason;
    EXPECT_TRUE(store.Record(&entry, &reason)) << reason;
    EXPECT_GT(entry.id, 0);
}

// A connection of its own to the file, as another program would have.
struct RawDatabase {
    explicit RawDatabase(const std::string& path) { sqlite3_open(path.c_str(), &db); }
    ~RawDatabase() { sqlite3_close(db); }
    int Exec(const std::string& sql) {
        return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    }
    std::string One(const std::string& sql) {
        std::string value;
        sqlite3_exec(
            db, sql.c_str(),
            [](void* out, int, char** values, char**) {
                *static_cast<std::string*>(out) = values[0] != nullptr ? values[0] : "NULL";
                return 0;
            },
            &value, nullptr);
        return value;
    }
    sqlite3* db = nullptr;
};

TEST(HistoryStore, RunsComeBackNewestFirstWithTheGrowthOfTheirBadBlocks) {
    TempDir dir;
    const std::string path = dir.Path() + "/state/brevant/history.sqlite";
    {
        auto store = OpenOk(path);
        ASSERT_NE(store, nullptr);
        HistoryEntry first = Entry("SER1", 1000, "format", 3);
        first.capacityBefore = 31000;
        first.capacityAfter = 31744;
        first.verdict = "healthy";
        first.verdictReasons = {"bank 0: 3 of 1024 blocks bad (0.3 %)", "second\nline"};
        first.backupFile = dir.Path() + "/SER1-1.cis";
        first.banks[0].spareBlocks = 21;
        RecordOk(*store, first);
        RecordOk(*store, Entry("SER2", 1500, "format", 9));
        RecordOk(*store, Entry("SER1", 2000, "check", 3));
        RecordOk(*store, Entry("SER1", 2500, "format", 1, false));  // stopped: its count is partial
        RecordOk(*store, Entry("SER1", 3000, "format", 7));
    }
    auto store = OpenOk(path);  // a new process would see the same
    ASSERT_NE(store, nullptr);
    std::vector<HistoryEntry> runs;
    std::string reason;
    ASSERT_TRUE(store->Runs("SER1", &runs, &reason)) << reason;
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].started, 3000);
    EXPECT_EQ(runs[0].growth, std::optional<std::int64_t>(4));  // against the check's 3
    EXPECT_EQ(runs[1].started, 2500);
    EXPECT_FALSE(runs[1].growth.has_value());
    EXPECT_EQ(runs[2].command, "check");
    EXPECT_EQ(runs[2].growth, std::optional<std::int64_t>(0));
    EXPECT_FALSE(runs[3].growth.has_value());  // the first

    const HistoryEntry& first = runs[3];
    EXPECT_EQ(first.stick, "SER1");
    EXPECT_EQ(first.mode, "quick");
    EXPECT_EQ(first.result, "complete");
    EXPECT_DOUBLE_EQ(first.seconds, 1.5);
    EXPECT_EQ(first.capacityBefore, std::optional<std::uint32_t>(31000));
    EXPECT_EQ(first.capacityAfter, std::optional<std::uint32_t>(31744));
    EXPECT_FALSE(first.cisSectors.has_value());
    EXPECT_EQ(first.verdict, "healthy");
    EXPECT_EQ(first.verdictReasons,
              (std::vector<std::string>{"bank 0: 3 of 1024 blocks bad (0.3 %)", "second line"}));
    EXPECT_EQ(first.backupFile, dir.Path() + "/SER1-1.cis");
    ASSERT_EQ(first.banks.size(), 1u);
    EXPECT_EQ(first.banks[0].deviceCode, 0x73);
    EXPECT_EQ(first.banks[0].spareBlocks, std::optional<std::int32_t>(21));
    ASSERT_EQ(first.banks[0].bad.size(), 3u);
    EXPECT_EQ(first.banks[0].bad[1].block, 13u);
    EXPECT_EQ(first.banks[0].bad[1].reason, "erase");
    EXPECT_TRUE(first.banks[0].bad[1].unmarkable);
    EXPECT_EQ(runs[0].banks[0].bad.size(), 7u);
    EXPECT_FALSE(runs[0].banks[0].spareBlocks.has_value());

    ASSERT_TRUE(store->Runs("", &runs, &reason)) << reason;
    ASSERT_EQ(runs.size(), 5u);
    EXPECT_EQ(runs[3].stick, "SER2");
    EXPECT_FALSE(runs[3].growth.has_value());  // another stick's runs are not its own

    std::optional<HistoryEntry> previous;
    ASSERT_TRUE(store->Previous("SER1", &previous, &reason)) << reason;
    ASSERT_TRUE(previous.has_value());
    EXPECT_EQ(previous->badBlocks, 7u);
    EXPECT_EQ(previous->started, 3000);
    ASSERT_TRUE(store->Previous("NOBODY", &previous, &reason)) << reason;
    EXPECT_FALSE(previous.has_value());

    RawDatabase raw(path);
    EXPECT_EQ(raw.One("PRAGMA user_version"), "1");
    EXPECT_EQ(raw.One("PRAGMA journal_mode"), "wal");
}

TEST(HistoryStore, TheKeyIsTheSerialElseThePlaceItWasPluggedIn) {
    EXPECT_EQ(HistoryStickKey("AA0001", "1-1.4", "/dev/sg2"), "AA0001");
    EXPECT_EQ(HistoryStickKey("", "1-1.4", "/dev/sg2"), "1-1.4");
    EXPECT_EQ(HistoryStickKey("", "", "/dev/sg2"), "/dev/sg2");
}

TEST(HistoryStore, SixteenWritersAtOnceLoseNoEntry) {
    TempDir dir;
    const std::string path = dir.Path() + "/history.sqlite";  // made by whoever comes first
    constexpr int kWriters = 16;
    constexpr int kEach = 25;
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(go[1]);
            char byte;
            (void)read(go[0], &byte, 1);  // end of file once every writer is there
            std::string reason;
            auto store = HistoryStore::Open(path, &reason);
            if (!store) {
                std::fprintf(stderr, "writer %d: %s\n", w, reason.c_str());
                _exit(1);
            }
            for (int i = 0; i < kEach; ++i) {
                HistoryEntry e = Entry("W" + std::to_string(w), 100 + i, "format", i % 5);
                if (!store->Record(&e, &reason)) {
                    std::fprintf(stderr, "writer %d: %s\n", w, reason.c_str());
                    _exit(1);
                }
            }
            _exit(0);
        }
        writers.push_back(pid);
    }
    close(go[0]);
    close(go[1]);
    for (pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    auto store = OpenOk(path);
    ASSERT_NE(store, nullptr);
    std::vector<HistoryEntry> runs;
    std::string reason;
    ASSERT_TRUE(store->Runs("", &runs, &reason)) << reason;
    EXPECT_EQ(runs.size(), static_cast<std::size_t>(kWriters * kEach));
    std::map<std::string, int> perWriter;
    std::set<std::int64_t> ids;
    std::size_t badRows = 0;
    for (const HistoryEntry& e : runs) {
        ++perWriter[e.stick];
        ids.insert(e.id);
        badRows += e.banks.at(0).bad.size();
        EXPECT_EQ(e.banks[0].bad.size(), e.badBlocks);
    }
    EXPECT_EQ(perWriter.size(), static_cast<std::size_t>(kWriters));
    for (const auto& [stick, count] : perWriter) EXPECT_EQ(count, kEach) << stick;
    EXPECT_EQ(ids.size(), runs.size());
    EXPECT_EQ(badRows, static_cast<std::size_t>(kWriters * (0 + 1 + 2 + 3 + 4) * kEach / 5));
}

TEST(HistoryStore, AFileThatIsNoDatabaseIsReportedAsDamaged) {
    TempDir dir;
    const std::string path = dir.Path() + "/history.sqlite";
    std::ofstream(path) << std::string(8192, 'x');
    std::string reason;
    EXPECT_EQ(HistoryStore::Open(path, &reason), nullptr);
    EXPECT_EQ(reason, "the history " + path +
                          " is damaged (file is not a database); move it away and a new one is "
                          "started");
    // Left as it was for whoever wants to look at it.
    EXPECT_EQ(std::filesystem::file_size(path), 8192u);
}

TEST(HistoryStore, DamagedPagesAreAReasonNotACrash) {
    TempDir dir;
    const std::string path = dir.Path() + "/history.sqlite";
    {
        auto store = OpenOk(path);
        ASSERT_NE(store, nullptr);
        for (int i = 0; i < 60; ++i)
            RecordOk(*store, Entry("S" + std::to_string(i % 4), i, "format", 20));
        RawDatabase raw(path);
        raw.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    {
        // Every page after the first (the schema) overwritten.
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekg(0, std::ios::end);
        const std::streamoff size = file.tellg();
        ASSERT_GT(size, 4 * 4096);
        file.seekp(4096);
        file << std::string(static_cast<std::size_t>(size - 4096), '\x5A');
    }
    std::string reason;
    // The first page, which holds the schema, is whole: the damage shows when the runs are read.
    auto store = HistoryStore::Open(path, &reason);
    ASSERT_NE(store, nullptr) << reason;
    std::vector<HistoryEntry> runs;
    EXPECT_FALSE(store->Runs("", &runs, &reason));
    EXPECT_NE(reason.find("is damaged"), std::string::npos) << reason;
    EXPECT_TRUE(runs.empty());
    std::optional<HistoryEntry> previous;
    reason.clear();
    EXPECT_FALSE(store->Previous("S1", &previous, &reason));
    EXPECT_NE(reason.find("is damaged"), std::string::npos) << reason;
    HistoryEntry more = Entry("S1", 99, "check", 1);
    reason.clear();
    EXPECT_FALSE(store->Record(&more, &reason));
    EXPECT_NE(reason.find("is damaged"), std::string::npos) << reason;
}

TEST(HistoryStore, ADatabaseLockedByAnotherProgramIsReportedAfterTheWait) {
    TempDir dir;
    const std::string path = dir.Path() + "/history.sqlite";
    auto store = OpenOk(path, 100);
    ASSERT_NE(store, nullptr);
    RawDatabase other(path);
    ASSERT_EQ(other.Exec("BEGIN EXCLUSIVE"), SQLITE_OK);
    HistoryEntry entry = Entry("S1", 1, "format", 0);
    std::string reason;
    EXPECT_FALSE(store->Record(&entry, &reason));
    EXPECT_EQ(reason, "the history " + path + " stayed locked by another program for 0.1 s");
    EXPECT_EQ(HistoryStore::Open(path, &reason, 100), nullptr);
    EXPECT_EQ(reason, "the history " + path + " stayed locked by another program for 0.1 s");
    // Reading goes on while another writes.
    std::vector<HistoryEntry> runs;
    EXPECT_TRUE(store->Runs("", &runs, &reason)) << reason;

    ASSERT_EQ(other.Exec("COMMIT"), SQLITE_OK);
    EXPECT_TRUE(store->Record(&entry, &reason)) << reason;
    EXPECT_TRUE(store->Runs("", &runs, &reason)) << reason;
    EXPECT_EQ(runs.size(), 1u);
}

TEST(HistoryStore, ANewerSchemaOrAFolderThatCannotBeMadeIsRefused) {
    TempDir dir;
    const std::string path = dir.Path() + "/history.sqlite";
    {
        auto store = OpenOk(path);
        RawDatabase raw(path);
        ASSERT_EQ(raw.Exec("PRAGMA user_version = 2"), SQLITE_OK);
    }
    std::string reason;
    EXPECT_EQ(HistoryStore::Open(path, &reason), nullptr);
    EXPECT_EQ(reason, "the history " + path +
                          " was written by a newer brevant (its version 2, this one knows 1)");

    const std::string file = dir.Path() + "/plain";
    std::ofstream(file) << "x";
    EXPECT_EQ(HistoryStore::Open(file + "/brevant/history.sqlite", &reason), nullptr);
    EXPECT_EQ(reason.rfind("the history's folder cannot be made: " + file + "/brevant: ", 0), 0u)
        << reason;
}

}  // namespace
