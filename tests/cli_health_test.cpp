// What the command line tells of a stick's health and does before anything is erased: check's
// verdict on sticks whose truth is known, list's units as JSON, the counterfeit named at the
// question, the dry run, the volume's label, the device after the command and the progress as
// JSON events. Run as the built program against simulated machines.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "sim/sim_bus.h"
#include "sim/sim_flash_disk.h"
#include "tests/brevant_process.h"
#include "tests/cli_fixture.h"
#include "tests/report_schema.h"

namespace {

using namespace brevant_test;

const std::string kExamples = std::string(BREVANT_SOURCE_DIR) + "/sim/examples/";

// A fresh 16 MiB stick: formatted, no block bad.
const char kFreshStick[] =
    "reader serial=FRESH16M0001\n"
    "unit DS drive=E\n"
    "banks 73\n"
    "cis page=0\n"
    "vendor-page\n";

// A 64 MiB stick with blocks marked bad, one whose erase fails and two weak ones.
const char kShopStick[] =
    "foreign drive=C adapter=0 target=0 name=\"System Disk\"\n"
    "reader adapter=1 target=0 serial=SHOP64M00001\n"
    "unit DS drive=E\n"
    "banks 76\n"
    "cis page=0\n"
    "vendor-page text=\"SHOP VENDOR PAGE\"\n"
    "bad 0:37 0:1500 0:4095\n"
    "data 0:9 0:10\n"
    "erase-fails 0:812\n"
    "stuck 0:2077 0:3001\n";

nlohmann::json JsonOf(const std::string& output) {
    const std::size_t start = output.find('{');
    return start == std::string::npos ? nlohmann::json()
                                      : nlohmann::json::parse(output.substr(start), nullptr, false);
}

// Every line of a trace is a reading command, and there are more than `least` of them.
void ExpectOnlyReading(const std::string& trace, int least) {
    std::istringstream lines(trace);
    int commands = 0;
    for (std::string line; std::getline(lines, line); ++commands) {
        EXPECT_TRUE(IsReadingCommand(line)) << line;
    }
    EXPECT_GT(commands, least);
}

using CliHealth = CliTest;

// ---- check's verdict ----

TEST_F(CliHealth, ACheckGivesEachStickOfKnownTruthItsVerdict) {
    struct Case {
        std::string machine;
        const char* verdict;
        int exitCode;
        const char* reason;  // a finding the verdict rests on, with its figures
    };
    const Case cases[] = {
        {kExamples + "counterfeit-8gib.txt", "counterfeit", kExitCounterfeit,
         "its CIS page announces 8192.0 MiB (16777216 sectors), its flash holds at most 15.6 MiB "
         "(32000 sectors)"},
        {kExamples + "worn-16mb.txt", "worn", kExitWorn,
         "bank 0: 30 of 1024 blocks bad (2.9 %), more than the 2 % its flash's maker allows"},
        {kExamples + "failing-16mb.txt", "retire", kExitRetire,
         "bank 0: 60 of 1024 blocks bad (5.9 %), more than the 4 % from which a stick is "
         "retired"},
        {Describe("fresh.txt", kFreshStick), "healthy", kExitComplete,
         "bank 0: 0 of 1024 blocks bad (0.0 %), within the 2 % its flash's maker allows"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.machine);
        // The device after the command, as every peer takes it.
        Finished run = RunBrevant({"check", "sim:E", "--simulate", c.machine, "--json"}, InDir());
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
        const std::string json = run.output.substr(run.output.find('{'));
        EXPECT_EQ(SchemaErrors(json), "");
        const auto report = nlohmann::json::parse(json);
        EXPECT_EQ(report["verdict"], c.verdict);
        EXPECT_EQ(report["exit_code"], c.exitCode);
        ASSERT_FALSE(report["verdict_reasons"].empty());
        bool found = false;
        for (const auto& reason : report["verdict_reasons"]) {
            found = found || reason.get<std::string>().find(c.reason) != std::string::npos;
        }
        EXPECT_TRUE(found) << report["verdict_reasons"];
        EXPECT_EQ(report["health"]["flash_holds_sectors"], 32000);
        EXPECT_EQ(report["health"]["flash_sectors"], 32768);
        EXPECT_EQ(report["health"]["limits"]["worn_bad_per_mille"], 20);
        EXPECT_EQ(report["health"]["limits"]["retire_bad_per_mille"], 40);
    }

    // The counterfeit's two sizes, as a script reads them.
    const auto counterfeit = JsonOf(
        RunBrevant({"check", "sim:E", "--simulate", cases[0].machine, "--json"}, InDir()).output);
    EXPECT_EQ(counterfeit["health"]["announced_sectors"]["read_capacity"], 16777216);
    EXPECT_EQ(counterfeit["health"]["announced_sectors"]["cis_page"], 16777216);
    EXPECT_EQ(counterfeit["health"]["flash_holds_sectors"], 32000);

    // And as a person reads them, with the spares of the bank and the advice.
    Finished words = RunBrevant({"check", "--simulate", cases[1].machine}, InDir());
    EXPECT_EQ(words.exitCode, kExitWorn);
    for (const char* line :
         {"Bank 0: device code 0x73, 1024 blocks of 32 pages; 30 marked bad", " spare beyond ",
          "Flash: holds at most 15.6 MiB (32000 sectors); announced: 15.6 MiB (32000 sectors) by "
          "READ CAPACITY",
          "\nVerdict: worn\n  bank 0: 30 of 1024 blocks bad (2.9 %)", "\nAdvice: format it Full"}) {
        EXPECT_NE(words.output.find(line), std::string::npos) << line << "\n" << words.output;
    }
}

// ---- The device after the command ----

TEST_F(CliHealth, TheDeviceFollowsTheCommandAsWithDashD) {
    const std::string machine = Describe(
        "two.txt", std::string(kFreshStick) +
                       "reader serial=OTHER000002\nunit DS drive=F\nbanks 73\ncis page=0\n");
    // With two sticks a check needs to be told which.
    EXPECT_EQ(RunBrevant({"check", "--simulate", machine}, InDir()).exitCode, kExitUsage);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"check", "sim:F", "--simulate", machine, "--json"},
             {"check", "-d", "sim:F", "--simulate", machine, "--json"}}) {
        Finished run = RunBrevant(args, InDir());
        EXPECT_EQ(run.exitCode, kExitComplete) << run.output;
        EXPECT_EQ(JsonOf(run.output)["device"]["serial"], "OTHER000002") << run.output;
    }
    Finished both = RunBrevant({"check", "sim:E", "sim:F", "--simulate", machine}, InDir());
    EXPECT_EQ(both.exitCode, kExitUsage);
    EXPECT_NE(both.output.find("brevant: check looks at one stick: 2 were named"),
              std::string::npos)
        << both.output;

    // format NODE formats that stick and no other.
    Finished format = RunBrevant(
        {"format", "--yes", "sim:F", "--simulate", machine, "--trace", Path("f.trace")}, InDir());
    EXPECT_EQ(format.exitCode, kExitComplete) << format.output;
    EXPECT_NE(format.output.find("serial OTHER000002"), std::string::npos) << format.output;
    const std::string trace = ReadFile(Path("f.trace"));
    EXPECT_GT(Count(trace, "reader 1 lun 0: F2 "), 1000);
    EXPECT_EQ(Count(trace, "reader 0 lun 0: F2 "), 0);

    // list NODE lists that unit alone.
    Finished list = RunBrevant({"list", "sim:F", "--simulate", machine}, InDir());
    EXPECT_EQ(list.exitCode, kExitComplete) << list.output;
    EXPECT_NE(list.output.find("sim:F: USB flash disk"), std::string::npos) << list.output;
    EXPECT_EQ(list.output.find("sim:E"), std::string::npos) << list.output;
}

// ---- Before anything is erased ----

TEST_F(CliHealth, ListAsJsonFitsItsSchemaAndNamesTheCounterfeit) {
    const std::string machine = Describe(
        "mixed.txt", ReadFile(kExamples + "counterfeit-8gib.txt") +
                         "foreign drive=C name=\"System Disk\"\n"
                         "reader serial=FRESH16M0001\nunit DS drive=F\nbanks 73\ncis page=0\n"
                         "reader\nunit CF drive=G card=yes\n");
    Finished json = RunBrevant(
        {"list", "--json", "--simulate", machine, "--trace", Path("list.trace")}, InDir());
    ASSERT_EQ(json.exitCode, kExitComplete) << json.output;
    EXPECT_EQ(SchemaErrors(json.output, "cli/output/list.schema.json"), "") << json.output;
    const auto list = nlohmann::json::parse(json.output);
    ASSERT_EQ(list["units"].size(), 3u) << json.output;
    EXPECT_EQ(list["units"][0]["node"], "sim:E");
    EXPECT_EQ(list["units"][0]["serial"], "FAKE8G000017");
    EXPECT_EQ(list["units"][0]["size_sectors"], 16777216);
    EXPECT_EQ(list["units"][0]["counterfeit"]["announced_sectors"], 16777216);
    EXPECT_EQ(list["units"][0]["counterfeit"]["flash_holds_sectors"], 32000);
    EXPECT_TRUE(list["units"][1]["counterfeit"].is_null());
    EXPECT_EQ(list["units"][2]["medium"], "CompactFlash slot");
    EXPECT_FALSE(list["units"][2]["flash_disk"]);
    ExpectOnlyReading(ReadFile(Path("list.trace")), 20);

    Finished text = RunBrevant({"list", "--simulate", machine}, InDir());
    EXPECT_NE(text.output.find("\n  counterfeit: announces 8192.0 MiB (16777216 sectors), its "
                               "flash holds 15.6 MiB (32000 sectors)\n"),
              std::string::npos)
        << text.output;
    EXPECT_EQ(Count(text.output, "counterfeit"), 1) << text.output;
}

TEST_F(CliHealth, TheQuestionNamesACounterfeitBeforeAnythingIsErased) {
    Brevant::Options terminal = InDir();
    terminal.terminal = true;
    Brevant run({"format", "--simulate", kExamples + "counterfeit-8gib.txt", "--trace",
                 Path("asked.trace")},
                terminal);
    ASSERT_TRUE(run.WaitFor("Format it? [y/N]")) << run.Output();
    const std::string before = run.Output();
    EXPECT_NE(before.find("Warning: counterfeit: announces 8192.0 MiB (16777216 sectors), its "
                          "flash holds 15.6 MiB (32000 sectors)"),
              std::string::npos)
        << before;
    run.Type("n\n");
    EXPECT_EQ(run.Finish(), kExitCancelled) << run.Output();
    const std::string trace = ReadFile(Path("asked.trace"));
    // Nothing was erased, marked or written but the write-protect probe's sector written back.
    EXPECT_EQ(Count(trace, ": F2 "), 0);
    EXPECT_EQ(Count(trace, ": C4 "), 0);
    EXPECT_LE(Count(trace, ": 2A "), 1);
}

TEST_F(CliHealth, ADryRunReadsAndTellsAndChangesNothing) {
    const std::string machine = Describe("shop.txt", kShopStick);
    std::string error;
    auto original = sim::SimBus::Load(machine, &error);
    ASSERT_TRUE(original) << error;
    Finished run = RunBrevant({"format", "--dry-run", "--simulate", machine, "--trace",
                               Path("dry.trace"), "--export-pages", Path("after.pages")},
                              InDir());
    EXPECT_EQ(run.exitCode, kExitComplete) << run.output;
    // Only reading commands reached the stick, and the system disk heard INQUIRY alone.
    ExpectOnlyReading(ReadFile(Path("dry.trace")), 4096);
    for (const std::string& line : TraceOf(ReadFile(Path("dry.trace")), "foreign C")) {
        EXPECT_NE(line.find(": 12 "), std::string::npos) << line;
    }
    // What a format would do: the blocks it would erase and those holding data among them, where
    // the old pages would go, the volume it would lay down.
    const std::string backup =
        Path("state") + "/brevant/cis/SHOP64M00001-";  // the stick's serial, then the time
    for (const std::string& line :
         {std::string("Dry run: only reading commands are sent.\n"),
          std::string("A format (Quick) would erase 4093 of 4096 blocks, every one not marked "
                      "bad; 3 of them hold data, which would be gone.\n"),
          "It would first keep the old CIS page (page 0) and the vendor page behind it in " +
              backup,
          std::string("(the folder would be made)\n"),
          std::string("It would write a new CIS page and an empty FAT16 volume of 62.3 MiB"),
          std::string("\nVerdict: healthy\n"), std::string("Nothing was changed.\n")}) {
        EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
    }
    // Nothing was kept, for nothing was erased; the stick's pages are as they were.
    EXPECT_TRUE(Backups().empty());
    const std::string after = ReadFile(Path("after.pages"));
    ASSERT_GE(after.size(), 256 * sim::kPageImageBytes);
    for (std::uint32_t page = 0; page < 256; ++page) {
        ASSERT_EQ(
            std::memcmp(after.data() + page * sim::kPageImageBytes,
                        original->FlashDisk(0)->ReadPage(0, page).data(), sim::kPageImageBytes),
            0)
            << "page " << page;
    }
    // A dry run tells in words: a report is check's to give.
    EXPECT_EQ(RunBrevant({"format", "--dry-run", "--json", "--simulate", machine}).exitCode,
              kExitUsage);
}

// ---- The volume's label ----

TEST_F(CliHealth, ALabelLandsInTheBootSectorWhereFsckAndMtoolsReadIt) {
    const std::string machine = Describe("fresh.txt", kFreshStick);
    Finished run = RunBrevant({"format", "--yes", "--simulate", machine, "--label", "backup 7",
                               "--export-image", Path("labelled.img"), "--json"},
                              InDir());
    ASSERT_EQ(run.exitCode, kExitComplete) << run.output;
    EXPECT_EQ(JsonOf(run.output)["volume"]["label"], "BACKUP 7");
    const std::string image = ReadFile(Path("labelled.img"));
    ASSERT_GE(image.size(), 512u);
    EXPECT_EQ(image.substr(0x2B, 11), "BACKUP 7   ");
    if (!HaveTool("mlabel") || !HaveTool("/usr/sbin/fatlabel")) {
        GTEST_SKIP() << "dosfstools or mtools is not installed";
    }
    const auto shell = [](const std::string& line) {
        std::string out;
        FILE* pipe = popen((line + " 2>&1").c_str(), "r");
        char buffer[512];
        while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
        const int status = pipe == nullptr ? -1 : pclose(pipe);
        return std::make_pair(status, out);
    };
    const auto fsck = shell("/usr/sbin/fsck.fat -n " + Path("labelled.img"));
    EXPECT_EQ(fsck.first, 0) << fsck.second;
    // No word of a label in the boot sector that differs from the root directory's.
    EXPECT_EQ(fsck.second.find("boot sector is"), std::string::npos) << fsck.second;
    EXPECT_EQ(shell("/usr/sbin/fatlabel " + Path("labelled.img")).second, "BACKUP 7\n");
    EXPECT_NE(shell("MTOOLS_SKIP_CHECK=1 mlabel -s -i " + Path("labelled.img") + " ::")
                  .second.find("Volume label is BACKUP 7"),
              std::string::npos);

    // A label FAT cannot hold is refused before any device is touched.
    Finished bad = RunBrevant(
        {"format", "--yes", "--simulate", machine, "--label", "A*B", "--trace", Path("bad.trace")},
        InDir());
    EXPECT_EQ(bad.exitCode, kExitUsage);
    EXPECT_NE(bad.output.find("brevant: --label A*B: "), std::string::npos) << bad.output;
    EXPECT_TRUE(ReadFile(Path("bad.trace")).empty());
}

// ---- Progress for a program that wraps brevant ----

TEST_F(CliHealth, ProgressAsJsonIsOneEventALineAndEndsWithTheResult) {
    Brevant::Options outputOnly = InDir();
    outputOnly.outputOnly = true;
    Finished run = RunBrevant({"format", "--yes", "--progress", "json", "--simulate",
                               Describe("shop.txt", kShopStick), "--sim-latency", "20"},
                              outputOnly);
    ASSERT_EQ(run.exitCode, kExitComplete) << run.output;
    std::istringstream lines(run.output);
    std::vector<nlohmann::json> events;
    for (std::string line; std::getline(lines, line);) {
        events.push_back(nlohmann::json::parse(line, nullptr, false));
        ASSERT_TRUE(events.back().is_object()) << line;
    }
    ASSERT_GE(events.size(), 4u) << run.output;
    int progress = 0;
    std::uint32_t lastDone = 0;
    for (std::size_t i = 0; i + 1 < events.size(); ++i) {
        const auto& e = events[i];
        if (e["event"] == "backup") {
            EXPECT_NE(e["file"].get<std::string>().find("/brevant/cis/SHOP64M00001-"),
                      std::string::npos);
            continue;
        }
        ASSERT_EQ(e["event"], "progress") << e;
        ++progress;
        for (const char* field :
             {"phase", "blocks_done", "blocks_total", "bad_blocks", "blocks_per_second"}) {
            EXPECT_TRUE(e.contains(field)) << field << " " << e;
        }
        EXPECT_EQ(e["blocks_total"], 4096);
        EXPECT_GE(e["blocks_done"].get<std::uint32_t>(), lastDone);
        lastDone = e["blocks_done"];
    }
    EXPECT_GE(progress, 2);
    const auto& end = events.back();
    EXPECT_EQ(end["event"], "end");
    EXPECT_EQ(end["result"], "complete");
    EXPECT_EQ(end["exit_code"], 0);
    EXPECT_EQ(end["bad_blocks"], 4);
    EXPECT_EQ(end["erased_blocks"], 4093);
    EXPECT_EQ(end["verdict"], "healthy");
    EXPECT_EQ(end["pages_lost"], false);

    // A check's look tells the same way, with the bad blocks it has found so far.
    Finished check = RunBrevant(
        {"check", "--progress", "json", "--simulate", kExamples + "worn-16mb.txt"}, outputOnly);
    EXPECT_EQ(check.exitCode, kExitWorn);
    std::istringstream checkLines(check.output);
    std::vector<nlohmann::json> looked;
    for (std::string line; std::getline(checkLines, line);) {
        looked.push_back(nlohmann::json::parse(line, nullptr, false));
    }
    ASSERT_GE(looked.size(), 2u) << check.output;
    const auto& last = looked[looked.size() - 2];
    EXPECT_EQ(last["phase"], "look");
    EXPECT_EQ(last["blocks_done"], 1024);
    EXPECT_EQ(last["bad_blocks"], 30);
    EXPECT_EQ(looked.back()["verdict"], "worn");
    EXPECT_EQ(looked.back()["exit_code"], kExitWorn);
}

}  // namespace
