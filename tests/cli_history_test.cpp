// The history of the sticks this machine has seen, as the built program keeps and shows it: runs
// of one stick one after another, a station's workers writing at once, a damaged database, the
// station's rule on bad blocks, and whose the state folder is under sudo.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/brevant_process.h"
#include "tests/cli_fixture.h"
#include "tests/report_schema.h"

namespace {

using namespace brevant_test;
namespace fs = std::filesystem;

// A 16 MiB stick as it comes back run after run: three blocks marked bad and one whose erase
// fails; the next time that one is marked too and two more fail their erase; at the check all six
// are marked.
const char kStickHead[] =
    "reader serial=WEAR16M00001\n"
    "unit DS drive=E\n"
    "banks 73\n"
    "cis page=0\n"
    "vendor-page\n";
const std::string kWearingStick = std::string(kStickHead) +
                                  "bad 0:37 0:500 0:1000\n"
                                  "erase-fails 0:812\n";
const std::string kWornStick = std::string(kStickHead) +
                               "bad 0:37 0:500 0:812 0:1000\n"
                               "erase-fails 0:200 0:300\n";
const std::string kMarkedStick =
    std::string(kStickHead) + "bad 0:37 0:200 0:300 0:500 0:812 0:1000\n";

// A 16 MiB stick of a station with a serial and `bad` blocks marked bad.
std::string StationStick(const std::string& serial, int node, int bad) {
    std::string text = "reader serial=" + serial + "\nunit DS node=s" + std::to_string(node) +
                       "\nbanks 73\ncis page=0\n";
    if (bad > 0) {
        text += "bad";
        for (int i = 0; i < bad; ++i) text += " 0:" + std::to_string(100 + 7 * i);
        text += "\n";
    }
    return text;
}

class CliHistory : public CliTest {
  protected:
    void TearDown() override {
        unsetenv("SUDO_UID");
        unsetenv("SUDO_GID");
        CliTest::TearDown();
    }
    std::string HistoryFile() const { return Path("state/brevant/history.sqlite3"); }
    // brevant history [SERIAL] --json, checked against its schema.
    nlohmann::json History(const std::string& serial = "") {
        std::vector<std::string> args = {"history", "--json"};
        if (!serial.empty()) args.push_back(serial);
        Brevant::Options outputOnly = InDir();
        outputOnly.outputOnly = true;
        Finished run = RunBrevant(args, outputOnly);
        EXPECT_EQ(run.exitCode, kExitComplete) << run.output;
        EXPECT_EQ(SchemaErrors(run.output, "cli/output/history.schema.json"), "") << run.output;
        return nlohmann::json::parse(run.output, nullptr, false);
    }
};

TEST_F(CliHistory, TwoFormatsAndACheckOfOneStickAreThreeRunsWithTheirCounts) {
    Finished first = RunBrevant(
        {"format", "--yes", "--simulate", Describe("wearing.txt", kWearingStick)}, InDir());
    ASSERT_EQ(first.exitCode, kExitComplete) << first.output;
    EXPECT_NE(first.output.find("Previous run: none recorded\n"), std::string::npos)
        << first.output;
    Finished second =
        RunBrevant({"format", "--yes", "--simulate", Describe("worn.txt", kWornStick)}, InDir());
    ASSERT_EQ(second.exitCode, kExitComplete) << second.output;
    // Each run shows the stick's count at the run before.
    EXPECT_NE(second.output.find("Previous run: 4 bad blocks (format, "), std::string::npos)
        << second.output;
    Finished check = RunBrevant(
        {"check", "--simulate", Describe("marked.txt", kMarkedStick), "--json"}, InDir());
    ASSERT_EQ(check.exitCode, kExitComplete) << check.output;
    const auto report = nlohmann::json::parse(check.output.substr(check.output.find('{')));
    EXPECT_EQ(report["previous_run"]["bad_blocks"], 6);
    EXPECT_EQ(report["previous_run"]["command"], "format");

    const auto history = History("WEAR16M00001");
    const auto& runs = history["runs"];
    ASSERT_EQ(runs.size(), 3u) << history.dump(2);
    // Newest first, each with its bad blocks and their growth since the run before.
    EXPECT_EQ(runs[0]["command"], "check");
    EXPECT_EQ(runs[0]["bad_blocks"], 6);
    EXPECT_EQ(runs[0]["growth"], 0);
    EXPECT_EQ(runs[0]["verdict"], "healthy");
    EXPECT_EQ(runs[1]["command"], "format");
    EXPECT_EQ(runs[1]["mode"], "quick");
    EXPECT_EQ(runs[1]["bad_blocks"], 6);
    EXPECT_EQ(runs[1]["growth"], 2);
    EXPECT_EQ(runs[2]["command"], "format");
    EXPECT_EQ(runs[2]["bad_blocks"], 4);
    EXPECT_TRUE(runs[2]["growth"].is_null());
    for (const auto& run : runs) {
        EXPECT_EQ(run["stick"], "WEAR16M00001");
        EXPECT_EQ(run["result"], "complete");
        EXPECT_TRUE(run["whole"]);
    }
    // The bad blocks of each run, with their reasons.
    std::set<std::string> bad;
    for (const auto& block : runs[1]["banks"][0]["bad"]) {
        bad.insert(std::to_string(block["block"].get<int>()) + " " +
                   block["reason"].get<std::string>());
    }
    EXPECT_EQ(bad, (std::set<std::string>{"37 marked", "500 marked", "1000 marked", "812 marked",
                                          "200 erase", "300 erase"}));
    EXPECT_TRUE(runs[2]["backup_file"].is_string());
    EXPECT_TRUE(runs[0]["backup_file"].is_null());

    // The same as a table for a person.
    Finished table = RunBrevant({"history", "WEAR16M00001"}, InDir());
    EXPECT_EQ(table.exitCode, kExitComplete);
    EXPECT_EQ(Count(table.output, "WEAR16M00001"), 3) << table.output;
    EXPECT_NE(table.output.find("format quick complete             6     +2  healthy"),
              std::string::npos)
        << table.output;
    EXPECT_EQ(History("NO-SUCH-STICK")["runs"].size(), 0u);
}

TEST_F(CliHistory, SixteenWorkersWritingAtOnceLoseNoRun) {
    std::string text;
    for (int i = 1; i <= 16; ++i) {
        text += StationStick("SN" + std::to_string(1000 + i), i, i % 4);
    }
    Finished run = RunBrevant(
        {"format", "--all", "--yes", "--simulate", Describe("sixteen.txt", text)}, InDir());
    ASSERT_EQ(run.exitCode, kExitComplete) << run.output;
    EXPECT_EQ(run.output.find("warning"), std::string::npos) << run.output;
    const auto runs = History()["runs"];
    ASSERT_EQ(runs.size(), 16u);
    std::set<std::string> sticks;
    for (const auto& r : runs) {
        sticks.insert(r["stick"].get<std::string>());
        EXPECT_EQ(r["result"], "complete");
        EXPECT_EQ(r["bad_blocks"], std::stoi(r["serial"].get<std::string>().substr(2)) % 4);
    }
    EXPECT_EQ(sticks.size(), 16u);
}

TEST_F(CliHistory, ADamagedHistoryIsWarnedOfAndTheFormatStillRuns) {
    fs::create_directories(Path("state/brevant"));
    WriteFile(HistoryFile(), std::string(8192, 'x'));
    const std::string machine = Describe("wearing.txt", kWearingStick);
    Brevant::Options errorsOnly = InDir();
    errorsOnly.errorsOnly = true;
    Finished format = RunBrevant({"format", "--yes", "--simulate", machine}, errorsOnly);
    EXPECT_EQ(format.exitCode, kExitComplete) << format.output;
    EXPECT_NE(format.output.find("brevant: warning: the history " + HistoryFile() +
                                 " is damaged (file is not a database); move it away and a new "
                                 "one is started; this run is not kept in the history\n"),
              std::string::npos)
        << format.output;
    EXPECT_EQ(Count(format.output, "warning"), 1) << format.output;
    Finished check = RunBrevant({"check", "--simulate", machine}, errorsOnly);
    EXPECT_EQ(check.exitCode, kExitComplete) << check.output;
    EXPECT_NE(check.output.find("is damaged"), std::string::npos) << check.output;
    // The file is left as it was, for whoever wants to look at it.
    EXPECT_EQ(ReadFile(HistoryFile()), std::string(8192, 'x'));
    Finished history = RunBrevant({"history"}, InDir());
    EXPECT_EQ(history.exitCode, kExitFailed);
    EXPECT_NE(history.output.find("brevant: the history " + HistoryFile() + " is damaged"),
              std::string::npos)
        << history.output;
}

// --retire-above N leaves a stick with more bad blocks unformatted, and says so; +N does so for a
// stick that gained more than N since its last whole run.
TEST_F(CliHistory, TheStationLeavesSticksAboveItsRuleUnformatted) {
    const std::string first =
        Describe("first.txt",
                 StationStick("R1", 1, 0) + StationStick("R2", 2, 60) + StationStick("R3", 3, 10));
    Finished run = RunBrevant({"format", "--all", "--yes", "--retire-above", "40", "--simulate",
                               first, "--trace", Path("first.trace")},
                              InDir());
    EXPECT_EQ(run.exitCode, kExitRetire) << run.output;
    const std::string table = run.output.substr(run.output.rfind("STICK "));
    EXPECT_NE(table.find("\nsim:s2           retired             60"), std::string::npos) << table;
    EXPECT_NE(table.find("  Retired: 60 bad blocks, more than 40 (--retire-above): left "
                         "unformatted."),
              std::string::npos)
        << table;
    EXPECT_EQ(Count(table, " complete "), 2) << table;
    // The totals above the table.
    EXPECT_NE(run.output.find("3 sticks: 0 running, 2 complete, 0 failed, 1 retired\nSTICK "),
              std::string::npos)
        << run.output;
    // The retired stick was read, never written.
    const std::string trace = ReadFile(Path("first-R2.trace"));
    std::istringstream lines(trace);
    int commands = 0;
    for (std::string line; std::getline(lines, line); ++commands) {
        EXPECT_TRUE(IsReadingCommand(line)) << line;
    }
    EXPECT_GT(commands, 1024);
    EXPECT_EQ(History("R2")["runs"][0]["result"], "retired");

    // The same sticks again; R3 has lost ten more blocks.
    const std::string second =
        Describe("second.txt",
                 StationStick("R1", 1, 0) + StationStick("R2", 2, 60) + StationStick("R3", 3, 20));
    Finished again = RunBrevant(
        {"format", "--all", "--yes", "--retire-above", "+5", "--simulate", second}, InDir());
    EXPECT_EQ(again.exitCode, kExitRetire) << again.output;
    // The confirmation names each stick's count at its last run.
    EXPECT_NE(again.output.find("  sim:s3  BREVSIM USB Flash Disk 1.00  serial R3  15.6 MiB (32000 "
                                "sectors)  last run 10 bad\n"),
              std::string::npos)
        << again.output;
    const std::string rows = again.output.substr(again.output.rfind("STICK "));
    EXPECT_NE(rows.find("\nsim:s3           retired             20    10"), std::string::npos)
        << rows;
    EXPECT_NE(rows.find("20 bad blocks, 10 more than at its last run, more than +5"),
              std::string::npos)
        << rows;
    // R2 has as many as at its last run: formatted.
    EXPECT_NE(rows.find("\nsim:s2           complete            60    60"), std::string::npos)
        << rows;
}

// Under sudo the state folder and what brevant makes in it are the invoking user's; the history
// and backups are where the manual says, and an error about them says what to do.
TEST_F(CliHistory, UnderSudoTheStateIsTheInvokingUsers) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, as sudo gives it";
    setenv("SUDO_UID", "65534", 1);
    setenv("SUDO_GID", "65534", 1);
    Brevant::Options errorsOnly = InDir();
    errorsOnly.errorsOnly = true;
    Finished format = RunBrevant(
        {"format", "--yes", "--simulate", Describe("wearing.txt", kWearingStick)}, errorsOnly);
    ASSERT_EQ(format.exitCode, kExitComplete) << format.output;
    ASSERT_EQ(Backups().size(), 1u);
    // Where the pages went is said on standard error, with the way to choose another place.
    EXPECT_NE(format.output.find("brevant: the old CIS page and vendor page are kept in " +
                                 Backups()[0] + " (--backup-dir DIR keeps them elsewhere)\n"),
              std::string::npos)
        << format.output;
    for (const std::string& made : {Path("state"), Path("state/brevant"), Path("state/brevant/cis"),
                                    Backups()[0], HistoryFile()}) {
        struct stat info = {};
        ASSERT_EQ(lstat(made.c_str(), &info), 0) << made;
        EXPECT_EQ(info.st_uid, 65534u) << made;
        EXPECT_EQ(info.st_gid, 65534u) << made;
        EXPECT_EQ(info.st_mode & 077, 0u) << made;
    }
    for (const std::string& journal : {HistoryFile() + "-wal", HistoryFile() + "-shm"}) {
        struct stat info = {};
        if (lstat(journal.c_str(), &info) == 0) {
            EXPECT_EQ(info.st_uid, 65534u) << journal;
        }
    }
    // The test's own folder, which brevant did not make, keeps its owner.
    struct stat own = {};
    ASSERT_EQ(stat(dir_.Path().c_str(), &own), 0);
    EXPECT_EQ(own.st_uid, 0u);

    // Without XDG_STATE_HOME the folder is in the invoking user's home, not in root's HOME.
    unsetenv("XDG_STATE_HOME");
    setenv("HOME", "/root", 1);
    Finished where = RunBrevant({"history"}, InDir());
    EXPECT_NE(where.output.find("No runs recorded in /nonexistent/.local/state/brevant/"
                                "history.sqlite3\n"),
              std::string::npos)
        << where.output;

    // A backup folder that cannot be made: said on standard error, naming --backup-dir, and
    // nothing is sent to the stick.
    WriteFile(Path("plain"), "x");
    Brevant::Options outputOnly = InDir();
    outputOnly.outputOnly = true;
    const std::vector<std::string> args = {
        "format", "--yes", "--simulate", Path("wearing.txt"), "--backup-dir", Path("plain/cis")};
    EXPECT_EQ(RunBrevant(args, outputOnly).output, "");
    Finished refused = RunBrevant(args, errorsOnly);
    EXPECT_EQ(refused.exitCode, kExitUsage);
    EXPECT_NE(refused.output.find("brevant: " + Path("plain/cis") +
                                  ": cannot make the folder: Not a directory; the old CIS pages "
                                  "cannot be kept there (--backup-dir DIR names another folder): "
                                  "nothing was done\n"),
              std::string::npos)
        << refused.output;
}

}  // namespace
