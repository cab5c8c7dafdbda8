// A shop's station: many simulated sticks formatted at once by `brevant format --all` and
// `brevant watch`, each by a worker of its own.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "sim/sim_bus.h"
#include "sim/sim_flash_disk.h"
#include "tests/brevant_process.h"
#include "tests/cli_fixture.h"
#include "tests/report_schema.h"
#include "tests/screen_model.h"
#include "tests/temp_dir.h"

namespace {

using namespace brevant_test;
namespace fs = std::filesystem;

// Eight sticks of 16 MiB with an old CIS page and a vendor page each; four of them in trouble.
std::string EightSticks() {
    std::string text;
    const char* faults[] = {
        "",  // s1..s4: sound
        "",
        "",
        "",
        "write-protected\n",       // s5
        "hang-from 300\n",         // s6: stops answering for good part way through
        "pull-at commands=400\n",  // s7: pulled part way through
        "erase-fails 0:20\nmark-does-not-stick 0:20\n",  // s8: its bad mark does not hold
    };
    for (int i = 0; i < 8; ++i) {
        text += "reader\nunit DS node=s" + std::to_string(i + 1) +
                "\nbanks 73\ncis page=0\nvendor-page text=\"STICK " + std::to_string(i + 1) +
                "\"\n" + faults[i];
    }
    return text;
}

// Sticks s1, s2, ... of 16 MiB with an old CIS page and a vendor page each; `reader` is the
// line each begins with (a serial number may go there). The old CIS page is not the one a format
// writes: a stick whose page is back was not formatted to the end.
std::string SticksWithPages(int count, const std::string& reader = "reader") {
    std::string text;
    for (int i = 1; i <= count; ++i) {
        text += reader + "\nunit DS node=s" + std::to_string(i) +
                "\nbanks 73\ncis page=0 sectors=30000\nvendor-page text=\"STICK " +
                std::to_string(i) + "\"\n";
    }
    return text;
}

class Station : public CliTest {
  protected:
    // The files of the report folder that end so, sorted.
    std::vector<std::string> Reports(const std::string& ending) const {
        std::vector<std::string> files;
        for (const std::string& name : FilesIn("reports")) {
            if (name.size() > ending.size() &&
                name.compare(name.size() - ending.size(), ending.size(), ending) == 0) {
                files.push_back(name);
            }
        }
        return files;
    }
};

TEST_F(Station, EightSticksEachEndTheirOwnWayWithoutHoldingUpTheOthers) {
    const std::string machine = Describe("station.txt", EightSticks());
    WriteFile(Path("marks.ini"), "[Setting]\nVerifyMarkBad=1\n");
    Finished run = RunBrevant(
        {"format", "--all", "--full", "--yes", "--settings", Path("marks.ini"), "--simulate",
         machine, "--report-dir", Path("reports"), "--export-image", Path("disk.img")},
        InDir());
    EXPECT_EQ(run.exitCode, kExitFailed) << run.output;  // some failed: not 0
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"sim:s1", "complete"}, {"sim:s2", "complete"},        {"sim:s3", "complete"},
        {"sim:s4", "complete"}, {"sim:s5", "write-protected"}, {"sim:s6", "unresponsive"},
        {"sim:s7", "removed"},  {"sim:s8", "cancelled"},
    };
    for (const auto& [node, result] : expected) {
        // The table's row of the stick.
        const std::size_t row = run.output.rfind("\n" + node + " ");
        ASSERT_NE(row, std::string::npos) << node << "\n" << run.output;
        const std::string line = run.output.substr(row + 1, run.output.find('\n', row + 1) - row);
        EXPECT_NE(line.find(" " + result), std::string::npos) << line;
    }
    // A report and a log per stick, each report one that validates and says the same.
    const std::vector<std::string> reports = Reports(".json");
    ASSERT_EQ(reports.size(), 8u);
    EXPECT_EQ(Reports(".log").size(), 8u);
    for (std::size_t i = 0; i < reports.size(); ++i) {
        const std::string text = ReadFile(reports[i]);
        EXPECT_EQ(SchemaErrors(text), "") << reports[i];
        const auto json = nlohmann::json::parse(text);
        EXPECT_EQ(json["device"]["node"], expected[i].first);
        EXPECT_EQ(json["result"], expected[i].second) << reports[i];
    }
    // The sound sticks hold clean volumes.
    if (HaveTool("fsck.fat") || HaveTool("/sbin/fsck.fat")) {
        for (int i = 1; i <= 4; ++i) {
            const std::string image = Path("disk-sim_s" + std::to_string(i) + ".img");
            ASSERT_TRUE(fs::exists(image)) << image;
            EXPECT_EQ(
                std::system(("PATH=$PATH:/sbin:/usr/sbin fsck.fat -n " + image + " >/dev/null 2>&1")
                                .c_str()),
                0)
                << image;
        }
    }
    // The stick whose mark did not hold stopped at the question, unattended, and has its pages.
    const auto damaged = nlohmann::json::parse(ReadFile(reports[7]));
    EXPECT_EQ(damaged["cis"]["old_cis_page_fate"], "restored");
    // The sticks that locked up or were pulled lost their old pages: the file that holds them
    // and the command that puts them back are in their row, their report and their log.
    const std::vector<std::string> logs = Reports(".log");
    ASSERT_EQ(logs.size(), 8u);
    for (std::size_t i : {5, 6}) {
        const auto json = nlohmann::json::parse(ReadFile(reports[i]));
        EXPECT_EQ(json["cis"]["old_cis_page_fate"], "lost") << reports[i];
        ASSERT_TRUE(json["cis"]["backup_file"].is_string()) << reports[i];
        const std::string backup = json["cis"]["backup_file"];
        EXPECT_TRUE(fs::exists(backup)) << backup;
        const std::string restore = "brevant restore-cis --simulate " + machine + " --device " +
                                    expected[i].first + " " + backup;
        EXPECT_EQ(json["cis"]["restore_command"], restore);
        EXPECT_NE(ReadFile(logs[i]).find(restore), std::string::npos) << logs[i];
        const std::size_t row = run.output.rfind("\n" + expected[i].first + " ");
        const std::size_t next = run.output.find("\nsim:", row + 1);
        EXPECT_NE(run.output.substr(row, next - row).find(restore), std::string::npos)
            << run.output;
    }
    // Every stick's end was heard before it was judged.
    EXPECT_EQ(run.output.find("without a word"), std::string::npos) << run.output;
}

// A stick gets one worker however often and by whichever of its names it is given.
TEST_F(Station, AStickNamedTwiceIsFormattedOnce) {
    const std::string machine =
        Describe("one.txt", "reader serial=ONE\nunit DS drive=E node=s1\nbanks 73\ncis page=0\n");
    Finished run =
        RunBrevant({"format", "--yes", "-d", "sim:s1", "-d", "sim:s1", "-d", "sim:E", "--simulate",
                    machine, "--report-dir", Path("reports"), "--trace", Path("trace.txt")},
                   InDir());
    EXPECT_EQ(run.exitCode, kExitComplete) << run.output;
    EXPECT_NE(run.output.find("1 stick(s) to format"), std::string::npos) << run.output;
    EXPECT_EQ(Reports(".json").size(), 1u);
    EXPECT_EQ(Backups().size(), 1u);
    // The stick saw its first block erased once.
    const std::string trace = ReadFile(Path("trace-ONE.txt"));
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(Count(trace, ": F2 00 00 00 00 00 00 00 00 00 00 00 none 0 good"), 1);
}

// Sticks of one cheap batch announce one serial number: each still gets its own report, log and
// kept pages.
TEST_F(Station, SticksThatShareASerialGetAReportEach) {
    const std::string text = SticksWithPages(3, "reader serial=BATCH7");
    Finished run = RunBrevant({"format", "--all", "--yes", "--simulate",
                               Describe("batch.txt", text), "--report-dir", Path("reports")},
                              InDir());
    EXPECT_EQ(run.exitCode, kExitComplete) << run.output;
    const std::vector<std::string> reports = Reports(".json");
    ASSERT_EQ(reports.size(), 3u) << run.output;
    EXPECT_EQ(Reports(".log").size(), 3u);
    std::set<std::string> nodes;
    for (const std::string& report : reports) {
        const auto json = nlohmann::json::parse(ReadFile(report));
        EXPECT_EQ(json["device"]["serial"], "BATCH7");
        nodes.insert(json["device"]["node"].get<std::string>());
        EXPECT_TRUE(fs::exists(json["cis"]["backup_file"].get<std::string>()));
    }
    EXPECT_EQ(nodes, (std::set<std::string>{"sim:s1", "sim:s2", "sim:s3"}));
    EXPECT_EQ(Backups().size(), 3u);
}

// What would stop every worker is told once, before any of them starts, with the exit status of a
// usage error.
TEST_F(Station, WhatWouldStopEveryWorkerIsToldBeforeAnyStarts) {
    const std::string machine = Describe("two.txt",
                                         "reader\nunit DS node=s1\nbanks 73\ncis page=0\n"
                                         "reader\nunit DS node=s2\nbanks 73\ncis page=0\n");
    // One report for several sticks.
    for (const char* option : {"--report", "--map", "--json"}) {
        std::vector<std::string> args = {"format", "--all", "--yes", "--simulate", machine, option};
        if (std::string(option) != "--json") args.push_back(Path("out"));
        Finished run = RunBrevant(args, InDir());
        EXPECT_EQ(run.exitCode, kExitUsage) << option << "\n" << run.output;
        EXPECT_NE(run.output.find("with several, --report-dir DIR gets a report of each"),
                  std::string::npos)
            << run.output;
        EXPECT_EQ(run.output.find("to format"), std::string::npos) << run.output;
    }
    // A settings file in the current folder that cannot be used.
    WriteFile(Path("Brevant.ini"), "[Setting]\nVerifyEraseFree=yes\n");
    Finished settings = RunBrevant(
        {"format", "--all", "--yes", "--simulate", machine, "--report-dir", Path("reports")},
        InDir());
    EXPECT_EQ(settings.exitCode, kExitUsage) << settings.output;
    EXPECT_NE(settings.output.find("brevant: Brevant.ini: line 2: "), std::string::npos)
        << settings.output;
    EXPECT_EQ(settings.output.find("to format"), std::string::npos) << settings.output;
    EXPECT_TRUE(Reports(".json").empty());
    fs::remove(Path("Brevant.ini"));
    // A report folder on a full file system.
    if (getuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    fs::create_directories(Path("reports"));
    if (::mount("tmpfs", Path("reports").c_str(), "tmpfs", 0, "size=128k") != 0) {
        GTEST_SKIP() << "no tmpfs";
    }
    {
        std::ofstream filler(Path("reports/filler"), std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) {
        }
    }
    Finished full = RunBrevant(
        {"format", "--all", "--yes", "--simulate", machine, "--report-dir", Path("reports")},
        InDir());
    ::umount2(Path("reports").c_str(), MNT_DETACH);
    EXPECT_EQ(full.exitCode, kExitUsage) << full.output;
    EXPECT_NE(full.output.find("brevant: " + Path("reports") + ": its file system is full"),
              std::string::npos)
        << full.output;
    EXPECT_EQ(full.output.find("to format"), std::string::npos) << full.output;
}

// A worker that cannot write its report says so, and its words reach the station's output and
// its row; the station's exit status says that not everything went well.
TEST_F(Station, AWorkersLastWordsReachTheTable) {
    std::string bad = "bad";  // sixty bad blocks: a report of some 4 KiB
    for (int block = 100; block < 160; ++block) bad += " 0:" + std::to_string(block);
    const std::string machine =
        Describe("worn.txt", "reader\nunit DS node=s1\nbanks 73\ncis page=0\n" + bad + "\n");
    Brevant::Options limited = InDir();
    limited.fileSizeLimit = 2500;  // the kept pages fit, the report does not
    Finished run = RunBrevant(
        {"format", "--all", "--yes", "--simulate", machine, "--report-dir", Path("reports")},
        limited);
    EXPECT_EQ(run.exitCode, kExitFailed) << run.output;
    const std::string words = ": cannot be written: File too large; the report is not written";
    EXPECT_NE(run.output.find("brevant: sim:s1: " + Path("reports") + "/sim_s1-"),
              std::string::npos)
        << run.output;
    const std::size_t row = run.output.rfind("\nsim:s1 ");
    ASSERT_NE(row, std::string::npos) << run.output;
    EXPECT_NE(run.output.find(words, row), std::string::npos) << run.output;
    EXPECT_TRUE(Reports(".json").empty());
}

// Ctrl-C or Ctrl-\ at the station stops every worker as Stop does: each puts its stick's pages
// back.
TEST_F(Station, AStopAtTheStationRestoresEveryStick) {
    const std::string text = SticksWithPages(4);
    const std::string machine = Describe("four.txt", text);
    std::string error;
    auto original = sim::SimBus::Parse(text, &error);
    ASSERT_TRUE(original) << error;
    for (int signal : {SIGINT, SIGQUIT}) {
        const std::string pages = "pages-" + std::to_string(signal);
        Brevant run({"format", "--all", "--yes", "--simulate", machine, "--sim-latency", "1000",
                     "--export-pages", Path(pages + ".bin")},
                    InDir());
        // Every worker has begun its scan: its kept pages are on the disk by then, and its old
        // pages' block is about to be erased.
        ASSERT_TRUE(run.WaitUntil([](const std::string& out) {
            return Count(out, "  scan  ") >= 4;
        })) << run.Output();
        run.Signal(signal);
        EXPECT_EQ(run.Finish(120), kExitCancelled) << strsignal(signal) << "\n" << run.Output();
        const std::string table = run.Output().substr(run.Output().rfind("STICK "));
        EXPECT_EQ(Count(table, " cancelled "), 4) << table;
        for (int i = 1; i <= 4; ++i) {
            const std::string kept = ReadFile(Path(pages + "-sim_s" + std::to_string(i) + ".bin"));
            ASSERT_GE(kept.size(), 2 * sim::kPageImageBytes) << i;
            sim::SimFlashDisk* disk = original->FlashDisk(static_cast<std::size_t>(i - 1));
            EXPECT_EQ(std::memcmp(kept.data(), disk->ReadPage(0, 0).data(), sim::kPageImageBytes),
                      0)
                << i;
            EXPECT_EQ(std::memcmp(kept.data() + sim::kPageImageBytes, disk->ReadPage(0, 1).data(),
                                  sim::kPageImageBytes),
                      0)
                << i;
        }
    }
}

// The station that waits: each stick formatted once as it comes, none twice, the one there from
// the start left alone, and the session's table at Ctrl-C.
TEST_F(Station, WatchFormatsEachStickOnceAsItIsPluggedIn) {
    std::string text;
    for (int i = 1; i <= 4; ++i) {
        text += "reader\nunit DS node=s" + std::to_string(i) + "\nbanks 73\ncis page=0\n";
    }
    const std::string machine = Describe("hub.txt", text);
    const std::string control = Path("control");
    fs::create_directories(control);
    // s1 is in from the start; s2, s3 and s4 are still out.
    for (int i = 2; i <= 4; ++i) WriteFile(control + "/pulled-s" + std::to_string(i), "");
    setenv("BREVANT_SIM_CONTROL", control.c_str(), 1);
    fs::create_directories(Path("reports"));
    Brevant watch({"watch", "--yes", "--simulate", machine, "--report-dir", Path("reports")},
                  InDir());
    ASSERT_TRUE(watch.WaitFor("Watching for sticks")) << watch.Output();
    auto reportsFor = [this](const std::string& stick) {
        int n = 0;
        for (const std::string& file : Reports(".json")) {
            n += file.find("/sim_" + stick + "-") != std::string::npos ? 1 : 0;
        }
        return n;
    };
    // A stick's line with its result comes once its worker has told its end, which it does
    // after writing its report.
    auto waitForEnd = [&](const std::string& stick) {
        return watch.WaitFor("sim:" + stick + "  complete", 60);
    };
    // Every few looks at its workers the watch opens the machine anew, which takes away a
    // control file it finds: a replug of s1, which is in, and nothing else changes.
    auto waitForLook = [&] {
        const std::string file = control + "/replug-s1";
        WriteFile(file, "");
        return watch.WaitUntil([&](const std::string&) { return !fs::exists(file); }, 20);
    };
    fs::remove(control + "/pulled-s2");  // s2 plugged in
    ASSERT_TRUE(waitForEnd("s2")) << watch.Output();
    EXPECT_EQ(reportsFor("s2"), 1) << watch.Output();
    WriteFile(control + "/pulled-s2", "");  // and pulled
    fs::remove(control + "/pulled-s3");     // s3 and s4 plugged in together
    fs::remove(control + "/pulled-s4");
    ASSERT_TRUE(waitForEnd("s3")) << watch.Output();
    ASSERT_TRUE(waitForEnd("s4")) << watch.Output();
    EXPECT_EQ(reportsFor("s3"), 1) << watch.Output();
    EXPECT_EQ(reportsFor("s4"), 1) << watch.Output();
    // Some more looks, each begun after the last stick ended: nothing is formatted twice.
    for (int look = 0; look < 3; ++look) ASSERT_TRUE(waitForLook()) << "look " << look;
    watch.Signal(SIGINT);
    EXPECT_EQ(watch.Finish(60), kExitComplete) << watch.Output();
    EXPECT_EQ(reportsFor("s1"), 0);  // there before the watch began
    EXPECT_EQ(reportsFor("s2"), 1);
    EXPECT_EQ(reportsFor("s3"), 1);
    EXPECT_EQ(reportsFor("s4"), 1);
    const std::string output = watch.Output();
    const std::size_t table = output.find("STICK ");
    ASSERT_NE(table, std::string::npos) << output;
    const std::string rows = output.substr(table);
    for (const char* stick : {"sim:s2", "sim:s3", "sim:s4"}) {
        EXPECT_EQ(Count(rows, std::string("\n") + stick + " "), 1) << rows;
    }
    EXPECT_EQ(rows.find("sim:s1 "), std::string::npos);
    EXPECT_EQ(Count(rows, " complete "), 3) << rows;
}

// 32 sticks on a terminal of 20 rows: the screen is drawn in place and never scrolls, with a line
// of totals; what a user can scroll back over at the end holds the last frame and the table
// once, not the frames before them.
TEST_F(Station, ThirtyTwoSticksOnATwentyRowTerminalNeverScroll) {
    constexpr int kRows = 20;
    constexpr int kColumns = 100;
    const std::string machine = Describe("thirty-two.txt", SticksWithPages(32));
    Brevant::Options terminal = InDir();
    terminal.terminal = true;
    terminal.rows = kRows;
    terminal.columns = kColumns;
    Brevant run({"format", "--all", "--yes", "--simulate", machine, "--sim-latency", "300"},
                terminal);
    ASSERT_EQ(run.Finish(180), kExitComplete) << run.Output();
    const std::string& output = run.Output();
    // The frames were drawn again and again while the sticks ran...
    EXPECT_GE(Count(output, "32 sticks: "), 3) << output;
    ScreenModel screen(kRows, kColumns);
    screen.Feed(output);
    EXPECT_EQ(screen.wraps, 0);
    // ... each over the last: of them all, only the last is there to scroll back to.
    const std::vector<std::string> seen = screen.Seen();
    auto linesStarting = [&seen](const std::string& start) {
        int n = 0;
        for (const std::string& line : seen) n += line.rfind(start, 0) == 0 ? 1 : 0;
        return n;
    };
    EXPECT_EQ(linesStarting("32 sticks: "), 1);
    EXPECT_EQ(linesStarting("32 sticks: 0 running, 32 complete, 0 failed, 0 retired"), 1);
    EXPECT_EQ(linesStarting("STICK "), 1);
    for (int i = 1; i <= 32; ++i) {
        const std::string node = "sim:s" + std::to_string(i) + " ";
        // Once in the confirmation; perhaps in the last frame, and in the table's row.
        EXPECT_EQ(linesStarting("  " + node), 1) << node;
        EXPECT_LE(linesStarting(node), 2) << node;
        EXPECT_GE(linesStarting(node), 1) << node;
    }
}

// A terminal made smaller while the sticks run: every frame after it fits the new height.
TEST_F(Station, TheScreenFitsATerminalMadeSmaller) {
    const std::string machine = Describe("twelve.txt", SticksWithPages(12));
    Brevant::Options terminal = InDir();
    terminal.terminal = true;
    terminal.rows = 30;
    terminal.columns = 100;
    Brevant run({"format", "--all", "--yes", "--simulate", machine, "--sim-latency", "1000"},
                terminal);
    // A frame of all twelve sticks is up; then the window shrinks to 8 rows.
    ASSERT_TRUE(run.WaitUntil([](const std::string& out) { return Count(out, "  scan  ") >= 12; }))
        << run.Output();
    const std::size_t before = run.Output().size();
    run.Resize(8, 100);
    ASSERT_EQ(run.Finish(180), kExitComplete) << run.Output();
    // The frames drawn after the resize, each from a cursor-up over the last to the next; the
    // first may still be one drawn for 30 rows, the later ones have at most 7 lines.
    const std::string after = run.Output().substr(before, run.Output().rfind("STICK ") - before);
    const std::regex up("\033\\[[0-9]+A");
    std::vector<std::size_t> starts;
    std::vector<std::size_t> ends;
    for (auto it = std::sregex_iterator(after.begin(), after.end(), up);
         it != std::sregex_iterator(); ++it) {
        if (!starts.empty()) ends.push_back(static_cast<std::size_t>(it->position()));
        starts.push_back(static_cast<std::size_t>(it->position() + it->length()));
    }
    ends.push_back(after.size());
    std::vector<std::string> frames;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        frames.push_back(after.substr(starts[i], ends[i] - starts[i]));
    }
    ASSERT_GE(frames.size(), 3u) << after;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        EXPECT_LE(Count(frames[i], "\n"), 7) << frames[i];
    }
}

}  // namespace
