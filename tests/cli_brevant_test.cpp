// The brevant command line, run as the built program against simulated machines.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/settings_parser.h"
#include "sim/sim_bus.h"
#include "sim/sim_flash_disk.h"
#include "sim/sim_state.h"
#include "tests/brevant_process.h"
#include "tests/cli_fixture.h"
#include "tests/report_schema.h"
#include "tests/temp_dir.h"

namespace {

using namespace brevant_test;

// A 64 MiB stick back from a shop: an old CIS page and vendor page, three blocks marked bad,
// one that fails its next erase, two weak ones that only the Full format's tests catch. A system
// disk and a DVD drive sit beside it.
const char kShopDisk[] =
    "foreign drive=C adapter=0 target=0 name=\"System Disk\"\n"
    "foreign drive=D adapter=0 target=1 name=\"DVD-ROM Drive\"\n"
    "reader adapter=1 target=0\n"
    "unit DS drive=E\n"
    "banks 76\n"
    "cis page=0\n"
    "vendor-page text=\"SHOP VENDOR PAGE\"\n"
    "bad 0:37 0:1500 0:4095\n"
    "erase-fails 0:812\n"
    "stuck 0:2077 0:3001\n";

const char kProtectedDisk[] =
    "reader adapter=0 target=0\n"
    "unit DS drive=E\n"
    "banks 73\n"
    "cis page=0\n"
    "write-protected\n";

const char kSlotsOnly[] =
    "foreign drive=C adapter=0 target=0 name=\"System Disk\"\n"
    "reader adapter=0 target=2\n"
    "unit CF drive=E card=yes\n"
    "unit SM drive=F\n"
    "unit MM drive=G\n";

class CliFormat : public CliTest {
  protected:
    void SetUp() override {
        CliTest::SetUp();
        shop_ = Describe("shop.txt", kShopDisk);
        protected_ = Describe("protected.txt", kProtectedDisk);
        slots_ = Describe("slots.txt", kSlotsOnly);
    }

    std::string shop_;       // a 64 MiB disk with bad and weak blocks beside two foreign drives
    std::string protected_;  // a 16 MiB disk with its switch on
    std::string slots_;      // a card reader without a flash disk
};

const char kSmallDisk[] =
    "reader adapter=0 target=0\n"
    "unit DS drive=E\n"
    "banks 73\n"
    "cis page=0\n"
    "vendor-page text=\"TEST VENDOR PAGE\"\n";

// What -vv tells once the erase of block 0 (page 0) came back: into the scan, the old CIS page's
// block is erased.
const char kBlockZeroErased[] = "ERASE F2 00 00 00 00 00 00 00 00 00 00 00: good";

// Whether a progress line of a terminal's output counts at least `blocks` blocks ("  12/1024").
bool BlocksShown(const std::string& output, unsigned blocks) {
    static const std::regex figure(R"(%  (\d+)/\d+)");
    for (std::sregex_iterator it(output.begin(), output.end(), figure), end; it != end; ++it) {
        if (std::stoul((*it)[1].str()) >= blocks) return true;
    }
    return false;
}

// ---- Complete runs ----

TEST_F(CliFormat, QuickFormatShowsProgressAndTheResultAndLeavesACleanVolume) {
    Finished run = RunBrevant({"format", "--yes", "--simulate", shop_, "--export-image",
                               Path("disk.img"), "--trace", Path("trace.txt")},
                              InDir());
    EXPECT_EQ(run.exitCode, kExitComplete) << run.output;
    EXPECT_NE(run.output.find("Device: sim:E  BREVSIM USB Flash Disk"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("Capacity: 62.5 MiB (128000 sectors)"), std::string::npos);
    EXPECT_NE(run.output.find("progress:   0%  0/4096 blocks"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("progress: 100%  4096/4096 blocks  -- blocks/s  CIS page and "
                              "volume  4 bad  0:00 left\n"),
              std::string::npos);
    EXPECT_NE(run.output.find("Result: complete: unplug the stick and plug it in again before "
                              "using it\n"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("Bad blocks: 4 (3 marked, 1 erase failed)\n  bank 0: 37 (marked), "
                              "812 (erase failed), 1500 (marked), 4095 (marked)\n"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("Capacity after: "), std::string::npos);
    // The old pages were kept in a file before the scan.
    ASSERT_EQ(Backups().size(), 1u);
    EXPECT_NE(run.output.find("brevant: the old CIS page and vendor page are kept in " +
                              Backups()[0] + " (--backup-dir DIR keeps them elsewhere)"),
              std::string::npos)
        << run.output;

    // The disk was told to stop at the end, so that it is re-plugged.
    std::vector<std::string> reader = TraceOf(ReadFile(Path("trace.txt")), "reader 0 lun 0");
    ASSERT_FALSE(reader.empty());
    EXPECT_NE(reader.back().find(": 1B 00 00 00"), std::string::npos) << reader.back();
    // The system disk and the DVD drive beside the reader heard INQUIRY and nothing else.
    for (const char* foreign : {"foreign C", "foreign D"}) {
        std::vector<std::string> lines = TraceOf(ReadFile(Path("trace.txt")), foreign);
        ASSERT_FALSE(lines.empty()) << foreign;
        for (const auto& line : lines) EXPECT_NE(line.find(": 12 "), std::string::npos) << line;
    }

    if (!HaveTool("fsck.fat")) GTEST_SKIP() << "fsck.fat is not installed";
    std::string fsck = "fsck.fat -n " + Path("disk.img") + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(fsck.c_str()), 0);
}

TEST_F(CliFormat, FullFormatTestsTheSurfaceAsTheSettingsSay) {
    Finished full = RunBrevant(
        {"format", "--full", "--yes", "--simulate", shop_, "--log", Path("run.log")}, InDir());
    EXPECT_EQ(full.exitCode, kExitComplete) << full.output;
    // The two weak blocks fail the pattern tests on top of the four bad ones.
    EXPECT_NE(full.output.find("Format: Full"), std::string::npos);
    EXPECT_NE(full.output.find("Bad blocks: 6 (3 marked, 3 0x55 test)\n"), std::string::npos)
        << full.output;
    // The command line's log begins each run with a dated line and names the bank of a block.
    std::string log = ReadFile(Path("run.log"));
    EXPECT_EQ(log.rfind("== 20", 0), 0u) << log;
    EXPECT_NE(log.find(" format full sim:E BREVSIM USB Flash Disk ==\nStart formatting DISK\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("0x55 pattern fail at 2077 (bank 0)\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Total bad blocks = 6\n"), std::string::npos) << log;
    EXPECT_EQ(log.substr(log.size() - 20), "End formatting DISK\n");

    // Without the pattern tests and the erase check a Full format passes the weak blocks.
    WriteFile(Path("Brevant.ini"),
              "[Setting]\n55PtnTest=0\nAAPtnTest=0\nAscendPtnTest=0\nVerifyEraseFree=0\n");
    Finished lenient = RunBrevant({"format", "--full", "--yes", "--simulate", shop_}, InDir());
    EXPECT_EQ(lenient.exitCode, kExitComplete) << lenient.output;
    EXPECT_NE(lenient.output.find("Bad blocks: 4 ("), std::string::npos) << lenient.output;
}

TEST_F(CliFormat, GenerateLogWritesBrevantLogInTheCurrentFolder) {
    WriteFile(Path("Brevant.ini"), "[Setting]\nGenerateLog=1\n");
    Finished run = RunBrevant({"format", "--yes", "--simulate", shop_}, InDir());
    EXPECT_EQ(run.exitCode, kExitComplete) << run.output;
    std::string log = ReadFile(Path("brevant.log"));
    EXPECT_NE(log.find("Bank No = 0\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Bad blk: 37 (bank 0)\n"), std::string::npos) << log;
    // The next run adds to the log instead of emptying it.
    Finished again = RunBrevant({"format", "--yes", "--simulate", shop_}, InDir());
    EXPECT_EQ(again.exitCode, kExitComplete) << again.output;
    const std::string both = ReadFile(Path("brevant.log"));
    EXPECT_EQ(both.compare(0, log.size(), log), 0);
    EXPECT_EQ(Count(both, "Start formatting DISK\n"), 2);
}

// ---- Stopping ----

TEST_F(CliFormat, CtrlCStopsAndWritesTheOldCisAndVendorPagesBack) {
    std::string description = Describe("disk.txt", kSmallDisk);
    std::string error;
    auto original = sim::SimBus::Load(description, &error);
    ASSERT_TRUE(original) << error;
    sim::PageBytes cis = original->FlashDisk(0)->ReadPage(0, 0);
    sim::PageBytes vendor = original->FlashDisk(0)->ReadPage(0, 1);
    ASSERT_EQ(std::memcmp(cis.data(), "USBC", 4), 0);

    // -vv tells each command as it comes back: stopped once the old CIS page's block is erased.
    Brevant process({"format", "--yes", "-vv", "--simulate", description, "--sim-latency", "1000",
                     "--export-pages", Path("pages.bin"), "--trace", Path("trace.txt")},
                    InDir());
    ASSERT_TRUE(process.WaitFor(kBlockZeroErased)) << process.Output();
    process.Signal(SIGINT);
    int code = process.Finish();
    EXPECT_EQ(code, kExitCancelled) << process.Output();
    EXPECT_NE(process.Output().find("Result: stopped\n"), std::string::npos) << process.Output();
    EXPECT_NE(process.Output().find("The old CIS and vendor pages are back.\n"), std::string::npos)
        << process.Output();

    // Block 0 (the old CIS page's) was erased during the scan, and written back at the stop.
    std::string trace = ReadFile(Path("trace.txt"));
    // The summary says how many blocks the run erased: as many as the stick was told to erase.
    const int erased = Count(trace, ": F2 ");
    EXPECT_GT(erased, 0);
    EXPECT_NE(process.Output().find("Erased: " + std::to_string(erased) +
                                    (erased == 1 ? " block" : " blocks") +
                                    " before the run ended; the data they held is gone.\n"),
              std::string::npos)
        << process.Output();
    EXPECT_NE(trace.find(": F2 00 00 00 00 00 00 00 00 00 00 00 none 0 good"), std::string::npos);
    std::string pages = ReadFile(Path("pages.bin"));
    ASSERT_GE(pages.size(), 2 * sim::kPageImageBytes);
    EXPECT_EQ(std::memcmp(pages.data(), cis.data(), sim::kPageImageBytes), 0);
    EXPECT_EQ(std::memcmp(pages.data() + sim::kPageImageBytes, vendor.data(), sim::kPageImageBytes),
              0);
    // Nothing of a new volume was written once the scan began: no WRITE(10), no C4h.
    std::size_t scan = trace.find(": F2 ");
    ASSERT_NE(scan, std::string::npos);
    EXPECT_EQ(trace.find(": 2A ", scan), std::string::npos);
    EXPECT_EQ(trace.find(": C4 "), std::string::npos);
}

TEST_F(CliFormat, OutputThatGoesAwayDoesNotCutTheFormatShort) {
    Brevant process({"format", "--yes", "--simulate", Describe("disk.txt", kSmallDisk),
                     "--sim-latency", "200", "--export-image", Path("disk.img")},
                    InDir());
    ASSERT_TRUE(process.WaitFor("Device:")) << process.Output();
    process.CloseOutput();  // as `brevant ... | head -1` does
    EXPECT_EQ(process.Finish(), kExitComplete);
    EXPECT_EQ(ReadFile(Path("disk.img")).size(), 32000u * 512u);
}

TEST_F(CliFormat, DiskPulledMidRunFailsPlainly) {
    std::string description =
        Describe("pulled.txt", std::string(kSmallDisk) + "unplug-after 900\n");
    Finished run = RunBrevant({"format", "--yes", "--simulate", description}, InDir());
    EXPECT_EQ(run.exitCode, kExitFailed) << run.output;
    EXPECT_NE(run.output.find("Result: the stick was pulled out during the format\n"),
              std::string::npos)
        << run.output;
    // The blocks whose commands met no device are not taken for bad blocks.
    EXPECT_NE(run.output.find("Bad blocks: 0\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("The old CIS and vendor pages could not be written back. They are "
                              "kept in "),
              std::string::npos)
        << run.output;
    // What the run did before the stick went, and the command that undoes it.
    EXPECT_NE(run.output.find(" blocks before the run ended; the data they held is gone.\n"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("Put them back with: brevant restore-cis --simulate " + description +
                              " --device sim:E " + Backups()[0] + "\n"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("complete"), std::string::npos);
}

TEST_F(CliFormat, StickPulledThroughTheControlFolderEndsTheRun) {
    // The folder the simulated machine follows, as a station's test pulls a stick with it.
    const std::string control = Path("control");
    ASSERT_EQ(mkdir(control.c_str(), 0755), 0);
    setenv("BREVANT_SIM_CONTROL", control.c_str(), 1);
    Brevant process({"format", "--yes", "--simulate", Describe("disk.txt", kSmallDisk),
                     "--sim-latency", "1000"},
                    InDir());
    unsetenv("BREVANT_SIM_CONTROL");
    // Pulled once the scan is under way (the first progress line comes with its first block).
    ASSERT_TRUE(process.WaitFor("progress:")) << process.Output();
    WriteFile(control + "/unplug-E", "");
    EXPECT_EQ(process.Finish(), kExitFailed) << process.Output();
    EXPECT_NE(process.Output().find("Result: the stick was pulled out during the format"),
              std::string::npos)
        << process.Output();
    EXPECT_FALSE(std::ifstream(control + "/unplug-E").good());  // taken away once done
}

// ---- A look that changes nothing ----

TEST_F(CliFormat, CheckSendsOnlyReadingCommandsAndTellsWhatIsThere) {
    struct Disk {
        const char* name;
        std::string text;
    };
    const Disk disks[] = {
        {"shop", kShopDisk},
        {"two banks",
         "reader adapter=0 target=0\nunit DS drive=E\nbanks 73 75\ncis page=32\n"
         "vendor-page\nbad 0:3 1:2000\ndata 1:7\n"},
        {"no CIS", "reader adapter=0 target=0\nunit DS drive=E\nbanks 73\nbad 0:9\n"},
        {"1 GiB", "reader adapter=0 target=0\nunit DS drive=E\nbanks 8x79\ncis page=0\n"},
    };
    for (const Disk& disk : disks) {
        SCOPED_TRACE(disk.name);
        const std::string description = Describe("look.txt", disk.text);
        std::string error;
        auto before = sim::SimBus::Load(description, &error);
        ASSERT_TRUE(before) << error;
        Finished run =
            RunBrevant({"check", "--simulate", description, "--trace", Path("look.log"),
                        "--export-pages", Path("after.pages"), "--report", Path("look.json")},
                       InDir());
        EXPECT_EQ(run.exitCode, kExitComplete) << run.output;
        std::istringstream trace(ReadFile(Path("look.log")));
        std::string line;
        int commands = 0;
        while (std::getline(trace, line)) {
            ++commands;
            EXPECT_TRUE(IsReadingCommand(line)) << line;
        }
        EXPECT_GT(commands, 100);
        // Bank 0's first pages are as they were.
        const std::string after = ReadFile(Path("after.pages"));
        sim::SimFlashDisk* original = before->FlashDisk(0);
        for (std::uint32_t page = 0;
             page < 256 && (page + 1) * sim::kPageImageBytes <= after.size(); ++page) {
            const sim::PageBytes was = original->ReadPage(0, page);
            ASSERT_EQ(std::memcmp(after.data() + page * sim::kPageImageBytes, was.data(),
                                  sim::kPageImageBytes),
                      0)
                << "page " << page;
        }
        EXPECT_EQ(SchemaErrors(ReadFile(Path("look.json"))), "");
    }

    // What it found on the two-bank stick.
    Finished two =
        RunBrevant({"check", "--simulate", Describe("two.txt", disks[1].text), "--json"}, InDir());
    ASSERT_EQ(two.exitCode, kExitComplete) << two.output;
    const auto json = nlohmann::json::parse(two.output.substr(two.output.find('{')));
    EXPECT_EQ(json["command"], "check");
    EXPECT_TRUE(json["mode"].is_null());
    EXPECT_EQ(json["banks"].size(), 2u);
    EXPECT_EQ(json["banks"][0]["device_code"], "0x73");
    EXPECT_EQ(json["banks"][0]["bad_blocks"][0]["block"], 3);
    EXPECT_EQ(json["banks"][0]["bad_blocks"][0]["reason"], "marked");
    EXPECT_EQ(json["banks"][1]["bad_blocks"][0]["block"], 2000);
    EXPECT_EQ(json["banks"][1]["blocks_holding_data"], 1);
    EXPECT_EQ(json["cis"]["page"], 32);
    EXPECT_EQ(json["cis"]["vendor_page"], true);
    EXPECT_EQ(json["cis"]["bank_totals"].size(), 2u);
    EXPECT_EQ(json["cis"]["sectors"], json["capacity_before_sectors"]);
    EXPECT_TRUE(json["capacity_after_sectors"].is_null());

    Finished none =
        RunBrevant({"check", "--simulate", Describe("none.txt", disks[2].text)}, InDir());
    EXPECT_NE(none.output.find("CIS page: none\n"), std::string::npos) << none.output;
    EXPECT_NE(none.output.find("Bank 0: device code 0x73, 1024 blocks of 32 pages; 1 marked bad, "
                               "0 holding data (bad: 9)"),
              std::string::npos)
        << none.output;
}

TEST_F(CliFormat, AFormatsReportAgreesWithTheSimulatorsTruth) {
    const std::string disk =
        Describe("truth.txt",
                 "reader adapter=0 target=0\nunit DS drive=E\nbanks 76\ncis page=0\nvendor-page\n"
                 "bad 0:37 0:1500\nerase-fails 0:812\nstuck 0:2077\nmark-does-not-stick 0:812\n");
    WriteFile(Path("marks.ini"), "[Setting]\nVerifyMarkBad=1\n");
    Finished run =
        RunBrevant({"format", "--full", "--yes", "--on-damaged", "continue", "--settings",
                    Path("marks.ini"), "--simulate", disk, "--export-image", Path("disk.img"),
                    "--report", Path("report.json"), "--map", Path("map.svg")},
                   InDir());
    EXPECT_EQ(run.exitCode, kExitCompleteUnmarkable) << run.output;
    const std::string text = ReadFile(Path("report.json"));
    EXPECT_EQ(SchemaErrors(text), "");
    const auto json = nlohmann::json::parse(text);
    EXPECT_EQ(json["result"], "complete");
    EXPECT_EQ(json["exit_code"], kExitCompleteUnmarkable);
    std::map<int, std::string> reasons;
    for (const auto& bad : json["banks"][0]["bad_blocks"]) reasons[bad["block"]] = bad["reason"];
    EXPECT_EQ(
        reasons,
        (std::map<int, std::string>{
            {37, "marked"}, {812, "pattern-0x55"}, {1500, "marked"}, {2077, "pattern-0x55"}}));
    // Its erase fails, so its spare bytes stay erased: the mark that does not hold shows.
    EXPECT_EQ(json["banks"][0]["unmarkable_blocks"], nlohmann::json::array({812}));
    EXPECT_EQ(json["cis"]["old_cis_page"], 0);
    EXPECT_EQ(json["cis"]["old_vendor_page"], 1);
    // The capacity after is the volume's: the boot sector of the exported image says so.
    const std::string image = ReadFile(Path("disk.img"));
    ASSERT_GE(image.size(), 512u);
    EXPECT_EQ(image.size() / 512, json["capacity_after_sectors"].get<std::size_t>());
    const auto* boot = reinterpret_cast<const unsigned char*>(image.data());
    const unsigned total16 = boot[0x13] | (boot[0x14] << 8);
    const unsigned total32 = boot[0x20] | (boot[0x21] << 8) | (boot[0x22] << 16) |
                             (static_cast<unsigned>(boot[0x23]) << 24);
    EXPECT_EQ(total16 != 0 ? total16 : total32, json["volume"]["sectors"].get<unsigned>());
    EXPECT_NE(ReadFile(Path("map.svg")).find("<svg"), std::string::npos);

    // A stopped run leaves a report too, and it validates.
    Brevant stopped({"format", "--yes", "-vv", "--simulate", disk, "--sim-latency", "1000",
                     "--report", Path("stopped.json")},
                    InDir());
    ASSERT_TRUE(stopped.WaitFor(kBlockZeroErased)) << stopped.Output();
    stopped.Signal(SIGINT);
    EXPECT_EQ(stopped.Finish(), kExitCancelled);
    const std::string partial = ReadFile(Path("stopped.json"));
    EXPECT_EQ(SchemaErrors(partial), "");
    EXPECT_EQ(nlohmann::json::parse(partial)["result"], "cancelled");
    EXPECT_EQ(nlohmann::json::parse(partial)["cis"]["old_cis_page_fate"], "restored");
}

// ---- The way back ----

// A format killed outright (a power cut, kill -9) after it erased the old CIS page: the stick
// has no CIS page, and the copy kept before the scan puts it back byte for byte.
TEST_F(CliFormat, AKilledFormatIsUndoneFromTheKeptPages) {
    const std::string description = Describe("disk.txt", kSmallDisk);
    std::string error;
    auto original = sim::SimBus::Load(description, &error);
    ASSERT_TRUE(original) << error;
    const sim::PageBytes cis = original->FlashDisk(0)->ReadPage(0, 0);
    const sim::PageBytes vendor = original->FlashDisk(0)->ReadPage(0, 1);
    // The stick outlives each process in this file.
    setenv("BREVANT_SIM_STATE", Path("stick.state").c_str(), 1);

    Brevant process({"format", "--yes", "-vv", "--simulate", description, "--sim-latency", "1000"},
                    InDir());
    // Killed once the state file holds the stick with its old CIS page's block erased.
    ASSERT_TRUE(process.WaitFor(kBlockZeroErased)) << process.Output();
    ASSERT_TRUE(process.WaitUntil([&](const std::string&) {
        auto saved = sim::SimBus::Load(description, &error);
        return saved && sim::LoadDiskState(*saved->FlashDisk(0), Path("stick.state"), &error) &&
               saved->FlashDisk(0)->CisPageNumber() == sim::kNoPage;
    })) << error;
    process.Signal(SIGKILL);
    process.Finish();
    ASSERT_EQ(Backups().size(), 1u);
    const std::string backup = Backups()[0];
    auto killed = sim::SimBus::Load(description, &error);
    ASSERT_TRUE(killed) << error;
    ASSERT_TRUE(sim::LoadDiskState(*killed->FlashDisk(0), Path("stick.state"), &error)) << error;
    EXPECT_NE(killed->FlashDisk(0)->ReadPage(0, 0), cis);  // erased by the scan: no CIS page
    EXPECT_EQ(killed->FlashDisk(0)->CisPageNumber(), sim::kNoPage);

    Finished restored = RunBrevant({"restore-cis", backup, "--yes", "--simulate", description,
                                    "--export-pages", Path("pages.bin")},
                                   InDir());
    EXPECT_EQ(restored.exitCode, kExitComplete) << restored.output;
    EXPECT_NE(restored.output.find("The old CIS page and vendor page are back on sim:E."),
              std::string::npos)
        << restored.output;
    const std::string pages = ReadFile(Path("pages.bin"));
    ASSERT_GE(pages.size(), 2 * sim::kPageImageBytes);
    EXPECT_EQ(std::memcmp(pages.data(), cis.data(), sim::kPageImageBytes), 0);
    EXPECT_EQ(std::memcmp(pages.data() + sim::kPageImageBytes, vendor.data(), sim::kPageImageBytes),
              0);

    // Once back, a second restore changes nothing.
    Finished again =
        RunBrevant({"restore-cis", backup, "--yes", "--simulate", description}, InDir());
    EXPECT_EQ(again.exitCode, kExitComplete) << again.output;
    EXPECT_NE(again.output.find("already in place"), std::string::npos) << again.output;
    unsetenv("BREVANT_SIM_STATE");
}

TEST_F(CliFormat, ARestoreRefusesAFileThatIsNotWholeOrAStickOfAnotherKind) {
    const std::string description = Describe("disk.txt", kSmallDisk);
    Finished run = RunBrevant({"format", "--yes", "--simulate", description}, InDir());
    ASSERT_EQ(run.exitCode, kExitComplete) << run.output;
    ASSERT_EQ(Backups().size(), 1u);
    std::string bytes = ReadFile(Backups()[0]);
    WriteFile(Path("cut.cis"), bytes.substr(0, bytes.size() - 10));
    Finished cut = RunBrevant({"restore-cis", Path("cut.cis"), "--yes", "--simulate", description,
                               "--trace", Path("cut.trace")},
                              InDir());
    EXPECT_EQ(cut.exitCode, kExitUsage);
    EXPECT_NE(cut.output.find("brevant: " + Path("cut.cis") + ": damaged"), std::string::npos)
        << cut.output;
    // A stick of 64 MiB parts is not where pages of a 16 MiB part go.
    const std::string other = Describe("other.txt",
                                       "reader adapter=0 target=0\nunit DS drive=E\n"
                                       "banks 76\ncis page=0\n");
    Finished wrong = RunBrevant(
        {"restore-cis", Backups()[0], "--yes", "--simulate", other, "--trace", Path("wrong.trace")},
        InDir());
    EXPECT_EQ(wrong.exitCode, kExitNoDisk) << wrong.output;
    EXPECT_NE(wrong.output.find("is not the kind the pages came from"), std::string::npos)
        << wrong.output;
    EXPECT_EQ(ReadFile(Path("wrong.trace")).find(": E9 "), std::string::npos);
    EXPECT_EQ(ReadFile(Path("wrong.trace")).find(": F2 "), std::string::npos);
    EXPECT_EQ(RunBrevant({"restore-cis"}).exitCode, kExitUsage);
}

// ---- The damaged-media question ----

const char kDamagedDisk[] =
    "reader adapter=0 target=0\n"
    "unit DS drive=E\n"
    "banks 73\n"
    "cis page=0\n"
    "erase-fails 0:5 0:9\n"
    "mark-does-not-stick 0:5 0:9\n";

TEST_F(CliFormat, DamagedMediaWithoutATerminalAborts) {
    std::string description = Describe("damaged.txt", kDamagedDisk);
    WriteFile(Path("marks.ini"), "[Setting]\nVerifyMarkBad=1\n");
    Finished run = RunBrevant(
        {"format", "--full", "--yes", "--settings", Path("marks.ini"), "--simulate", description},
        InDir());
    EXPECT_EQ(run.exitCode, kExitCancelled) << run.output;
    EXPECT_NE(run.output.find("brevant: a bad block does not keep its bad-block mark: stopping "
                              "(--on-damaged abort)"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("Result: stopped at the question about damaged blocks\n"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("The old CIS page is back.\n"), std::string::npos) << run.output;

    // Unattended and told to go on: no question, a complete run that says it cannot be trusted.
    Finished going = RunBrevant({"format", "--full", "--yes", "--on-damaged", "continue",
                                 "--settings", Path("marks.ini"), "--simulate", description},
                                InDir());
    EXPECT_EQ(going.exitCode, kExitCompleteUnmarkable) << going.output;
    EXPECT_NE(going.output.find("Warning: 2 bad block(s) could not be marked: 5 (bank 0), 9 "
                                "(bank 0)."),
              std::string::npos)
        << going.output;
}

TEST_F(CliFormat, DamagedMediaQuestionOnATerminal) {
    std::string description = Describe("damaged.txt", kDamagedDisk);
    WriteFile(Path("marks.ini"), "[Setting]\nVerifyMarkBad=1\n");
    Brevant::Options terminal = InDir();
    terminal.terminal = true;

    // Retry: asked again at the next unmarkable block; Ignore: not asked again; the run ends
    // complete, and says the stick cannot be trusted.
    Brevant process(
        {"format", "--full", "--settings", Path("marks.ini"), "--simulate", description}, terminal);
    ASSERT_TRUE(process.WaitFor("Format it? [y/N] ")) << process.Output();
    process.Type("y\n");
    ASSERT_TRUE(process.WaitFor("[A]bort, [R]etry or [I]gnore? ")) << process.Output();
    process.Type("maybe\n");  // not an answer: asked again
    ASSERT_TRUE(process.WaitFor("maybe\r\n[A]bort, [R]etry or [I]gnore? ")) << process.Output();
    process.Type("r\n");
    ASSERT_TRUE(process.WaitFor("r\r\nA bad block does not keep its bad-block mark", 20))
        << process.Output();
    ASSERT_TRUE(process.WaitFor("[A]bort, [R]etry or [I]gnore? ")) << process.Output();
    EXPECT_EQ(Count(process.Output(), "does not keep its bad-block mark"), 2);
    process.Type("i\n");
    EXPECT_EQ(process.Finish(), kExitCompleteUnmarkable) << process.Output();
    EXPECT_EQ(Count(process.Output(), "does not keep its bad-block mark"), 2);
    EXPECT_NE(process.Output().find("Result: complete, but some bad blocks could not be marked"),
              std::string::npos);

    Brevant abort({"format", "--full", "--settings", Path("marks.ini"), "--simulate", description},
                  terminal);
    ASSERT_TRUE(abort.WaitFor("Format it? [y/N] ")) << abort.Output();
    abort.Type("y\n");
    ASSERT_TRUE(abort.WaitFor("[A]bort, [R]etry or [I]gnore? ")) << abort.Output();
    abort.Type("a\n");
    EXPECT_EQ(abort.Finish(), kExitCancelled) << abort.Output();
    EXPECT_NE(abort.Output().find("Result: stopped at the question about damaged blocks"),
              std::string::npos);
}

// ---- On a terminal ----

TEST_F(CliFormat, ConfirmationOnATerminal) {
    Brevant::Options terminal = InDir();
    terminal.terminal = true;
    Brevant declined({"format", "--simulate", shop_, "--trace", Path("declined.txt")}, terminal);
    ASSERT_TRUE(declined.WaitFor("Everything on sim:E will be erased. Format it? [y/N] "))
        << declined.Output();
    EXPECT_NE(declined.Output().find("Device: sim:E"), std::string::npos);
    declined.Type("n\n");
    EXPECT_EQ(declined.Finish(), kExitCancelled);
    EXPECT_NE(declined.Output().find("Nothing was changed."), std::string::npos);
    std::string trace = ReadFile(Path("declined.txt"));
    EXPECT_FALSE(trace.empty());
    EXPECT_EQ(trace.find(": F2 "), std::string::npos);  // nothing erased
    EXPECT_EQ(trace.find(": E9 "), std::string::npos);  // nothing written

    Brevant accepted({"format", "--simulate", shop_}, terminal);
    ASSERT_TRUE(accepted.WaitFor("[y/N] ")) << accepted.Output();
    accepted.Type("yes\n");
    EXPECT_EQ(accepted.Finish(), kExitComplete) << accepted.Output();
    // The bar redraws itself in place.
    EXPECT_NE(accepted.Output().find("] 100%  4096/4096 blocks"), std::string::npos)
        << accepted.Output();
    EXPECT_EQ(accepted.Output().find("progress:"), std::string::npos);
}

// What a person sees at 60 and at 120 columns: one line redrawn in place that never reaches
// the last column, whose percentage is the share of blocks done, and whose phase follows the run.
TEST_F(CliFormat, TheProgressLineFitsTheTerminalAndSaysWhatIsDone) {
    for (int columns : {60, 120}) {
        SCOPED_TRACE(columns);
        Brevant::Options terminal = InDir();
        terminal.terminal = true;
        terminal.columns = columns;
        Brevant run({"format", "--yes", "--simulate", Describe("disk.txt", kSmallDisk),
                     "--sim-latency", "300"},
                    terminal);
        ASSERT_EQ(run.Finish(), kExitComplete) << run.Output();
        std::vector<std::string> lines;
        std::string piece;
        for (char c : run.Output()) {
            if (c == '\r' || c == '\n') {
                lines.push_back(piece);
                piece.clear();
            } else {
                piece += c;
            }
        }
        int progressLines = 0;
        bool scan = false, finish = false;
        for (std::string line : lines) {
            const std::size_t clear = line.find("\033[K");
            if (clear != std::string::npos) line.erase(clear);
            unsigned percent = 0, done = 0, total = 0;
            const std::size_t bar = line.find("] ");
            if (line.empty() || line[0] != '[' || bar == std::string::npos) continue;
            EXPECT_LT(line.size(), static_cast<std::size_t>(columns)) << line;
            ASSERT_EQ(std::sscanf(line.c_str() + bar + 2, "%u%%  %u/%u", &percent, &done, &total),
                      3)
                << line;
            ++progressLines;
            EXPECT_EQ(percent, done * 100 / total) << line;
            scan = scan || line.find("  scan") != std::string::npos;
            finish = finish || line.find("CIS page and volume") != std::string::npos ||
                     (columns == 60 && done == total);
        }
        EXPECT_GT(progressLines, 3);
        EXPECT_TRUE(scan);
        EXPECT_TRUE(finish);
    }
    // Ctrl-C on a narrow terminal stops the run and puts the pages back, as ever.
    Brevant::Options narrow = InDir();
    narrow.terminal = true;
    narrow.columns = 60;
    Brevant stopped({"format", "--yes", "--simulate", Describe("disk.txt", kSmallDisk),
                     "--sim-latency", "1000"},
                    narrow);
    // Into the scan: the progress counts block 1, so block 0 (the old CIS page's) is erased.
    ASSERT_TRUE(stopped.WaitUntil([](const std::string& output) { return BlocksShown(output, 2); }))
        << stopped.Output();
    stopped.Signal(SIGINT);
    EXPECT_EQ(stopped.Finish(), kExitCancelled) << stopped.Output();
    EXPECT_NE(stopped.Output().find("The old CIS and vendor pages are back."), std::string::npos)
        << stopped.Output();
}

TEST_F(CliFormat, CtrlCAtTheConfirmationDeclines) {
    Brevant::Options terminal = InDir();
    terminal.terminal = true;
    Brevant process({"format", "--simulate", shop_, "--trace", Path("trace.txt")}, terminal);
    ASSERT_TRUE(process.WaitFor("[y/N] ")) << process.Output();
    process.Signal(SIGINT);
    EXPECT_EQ(process.Finish(), kExitCancelled) << process.Output();
    EXPECT_NE(process.Output().find("Nothing was changed."), std::string::npos);
    // The process ended by itself, so the trace was written: nothing erased, nothing written.
    std::string trace = ReadFile(Path("trace.txt"));
    EXPECT_FALSE(trace.empty());
    EXPECT_EQ(trace.find(": F2 "), std::string::npos);
    EXPECT_EQ(trace.find(": E9 "), std::string::npos);
}

TEST_F(CliFormat, NoConfirmationWithoutATerminal) {
    Finished run =
        RunBrevant({"format", "--simulate", shop_, "--trace", Path("trace.txt")}, InDir());
    EXPECT_EQ(run.exitCode, kExitUsage);
    EXPECT_NE(run.output.find("pass --yes"), std::string::npos) << run.output;
    EXPECT_FALSE(std::ifstream(Path("trace.txt")).good());  // the machine was never touched
}

// ---- Bad input ----

TEST_F(CliFormat, UnknownDevice) {
    Finished run =
        RunBrevant({"format", "--yes", "--simulate", shop_, "--device", "sim:Q"}, InDir());
    EXPECT_EQ(run.exitCode, kExitNoDisk);
    EXPECT_NE(run.output.find("sim:Q: no such device"), std::string::npos) << run.output;

    if (getuid() != 0) return;  // real nodes are looked at only as root
    Finished missing = RunBrevant({"list", "--device", "/dev/brevant-no-such-node"});
    EXPECT_EQ(missing.exitCode, kExitNoDisk);
    EXPECT_NE(missing.output.find("/dev/brevant-no-such-node: no such device"), std::string::npos)
        << missing.output;
    Finished notScsi = RunBrevant({"format", "--yes", "--device", "/dev/null"});
    EXPECT_EQ(notScsi.exitCode, kExitNoDisk);
    EXPECT_NE(notScsi.output.find("not a SCSI generic node"), std::string::npos) << notScsi.output;
}

TEST_F(CliFormat, NodeThatIsNotAReaderIsSentOnlyInquiry) {
    Finished run = RunBrevant(
        {"format", "--yes", "--simulate", shop_, "--device", "sim:C", "--trace", Path("trace.txt")},
        InDir());
    EXPECT_EQ(run.exitCode, kExitNoDisk);
    EXPECT_NE(run.output.find("brevant: sim:C does not answer as this controller's reader"),
              std::string::npos)
        << run.output;
    std::string trace = ReadFile(Path("trace.txt"));
    std::vector<std::string> lines = TraceOf(trace, "foreign C");
    ASSERT_EQ(lines.size(), 1u) << trace;
    EXPECT_NE(lines[0].find(": 12 00 00 00 38 00"), std::string::npos);
    EXPECT_TRUE(TraceOf(trace, "reader 0 lun 0").empty());  // only the named node was walked
}

TEST_F(CliFormat, WriteProtectedDiskIsNotFormatted) {
    Finished run = RunBrevant(
        {"format", "--yes", "--simulate", protected_, "--trace", Path("trace.txt")}, InDir());
    EXPECT_EQ(run.exitCode, kExitNoDisk);
    EXPECT_NE(run.output.find("brevant: sim:E: the stick is write-protected; nothing was done"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(ReadFile(Path("trace.txt")).find(": F2 "), std::string::npos);
}

TEST_F(CliFormat, ReadinessAsTheDialogJudgesIt) {
    // A medium that was just inserted reports a unit attention first: that counts as ready.
    std::string fresh = Describe("fresh.txt", std::string(kSmallDisk) + "unit-attention\n");
    Finished run = RunBrevant({"format", "--yes", "--simulate", fresh}, InDir());
    EXPECT_EQ(run.exitCode, kExitComplete) << run.output;

    std::string asleep = Describe("asleep.txt", std::string(kSmallDisk) + "not-ready\n");
    Finished refused = RunBrevant(
        {"format", "--yes", "--simulate", asleep, "--trace", Path("trace.txt")}, InDir());
    EXPECT_EQ(refused.exitCode, kExitNoDisk);
    EXPECT_NE(refused.output.find("brevant: sim:E: the stick is not ready"), std::string::npos)
        << refused.output;
    EXPECT_EQ(ReadFile(Path("trace.txt")).find(": F2 "), std::string::npos);
}

TEST_F(CliFormat, BrokenSettingsFileStopsBeforeAnyDevice) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"[Setting]\nGenerateLog=1\nVerifyEraseFree=yes\n",
         "line 3: \"VerifyEraseFree=yes\": VerifyEraseFree needs a whole number"},
        {"[Setting\n55PtnTest=0\n", "line 1: \"[Setting\": the section name has no ]"},
        {"[Setting]\nForceTestBad\n", "line 2: \"ForceTestBad\": not of the form key=value"},
        {std::string("[Setting]\nAAPtnTest=1\n\0\x01\x02", 24), "line 3: not text"},
        {"[Setting]\nVerifyMarkBad=99999999999\n", "VerifyMarkBad needs a whole number"},
        // The reader leaves a switch unchanged for a value past the signed range.
        {"[Setting]\nForceTestBad=2147483648\n",
         "line 2: \"ForceTestBad=2147483648\": ForceTestBad needs a whole number in the 32-bit "
         "range"},
        // A value of megabytes is named by its start only, with control bytes escaped.
        {"[Setting]\nGenerateLog=\x1b[2J" + std::string(900000, '7') + "\n",
         "line 2: \"GenerateLog=\\x1B[2J" + std::string(41, '7') +
             "...\": GenerateLog needs a whole number\n"},
        {"[Setting]\n" + std::string(kMaxSettingsFileBytes, ';') + "\n", "larger than 1 MiB"},
    };
    for (const Case& c : cases) {
        WriteFile(Path("bad.ini"), c.text);
        Finished run = RunBrevant({"format", "--yes", "--settings", Path("bad.ini"), "--simulate",
                                   shop_, "--trace", Path("trace.txt")},
                                  InDir());
        EXPECT_EQ(run.exitCode, kExitUsage) << c.text;
        EXPECT_NE(run.output.find(c.expected), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("the settings file is not usable; nothing was done"),
                  std::string::npos);
        EXPECT_FALSE(std::ifstream(Path("trace.txt")).good());
    }

    Finished missing = RunBrevant(
        {"format", "--yes", "--settings", Path("none.ini"), "--simulate", shop_}, InDir());
    EXPECT_EQ(missing.exitCode, kExitUsage);
    EXPECT_NE(missing.output.find("none.ini: cannot read the settings file"), std::string::npos);
    // Neither a folder nor a device is a settings file.
    std::filesystem::create_directories(Path("folder.ini"));
    for (std::string notAFile : {Path("folder.ini"), std::string("/dev/zero")}) {
        Finished refused =
            RunBrevant({"format", "--yes", "--settings", notAFile, "--simulate", shop_}, InDir());
        EXPECT_EQ(refused.exitCode, kExitUsage) << refused.output;
        EXPECT_NE(refused.output.find(notAFile + ": cannot read the settings file"),
                  std::string::npos)
            << refused.output;
    }

    // An unknown key is only a warning.
    WriteFile(Path("Brevant.ini"), "[Setting]\nVerifyEverything=1\n");
    Finished warned = RunBrevant({"format", "--yes", "--simulate", shop_}, InDir());
    EXPECT_EQ(warned.exitCode, kExitComplete) << warned.output;
    EXPECT_NE(
        warned.output.find("warning: Brevant.ini: line 2: \"VerifyEverything\": not a setting"),
        std::string::npos)
        << warned.output;
}

// What the check lets through is what the format uses: the switches of a file with old Mac line
// ends, or with a vertical tab before a key, take effect without a word.
TEST_F(CliFormat, SettingsThatPassTheCheckAreTheOnesUsed) {
    for (const char* text : {"[Setting]\r55PtnTest=0\rAAPtnTest=0\rVerifyEraseFree=0\r",
                             "[Setting]\n\v55PtnTest=0\n\vAAPtnTest=0\nVerifyEraseFree=0\v\n"}) {
        WriteFile(Path("Brevant.ini"), text);
        Finished lenient = RunBrevant({"format", "--full", "--yes", "--simulate", shop_}, InDir());
        EXPECT_EQ(lenient.exitCode, kExitComplete) << lenient.output;
        EXPECT_EQ(lenient.output.find("warning"), std::string::npos) << lenient.output;
        EXPECT_NE(lenient.output.find("Bad blocks: 4 ("), std::string::npos) << lenient.output;
    }
}

TEST_F(CliFormat, LogThatCannotBeCreated) {
    Finished run = RunBrevant({"format", "--yes", "--simulate", shop_, "--log",
                               Path("no/such/folder/run.log"), "--trace", Path("trace.txt")},
                              InDir());
    EXPECT_EQ(run.exitCode, kExitUsage);
    EXPECT_NE(run.output.find("run.log: its folder " + Path("no/such/folder") +
                              ": No such file or directory"),
              std::string::npos)
        << run.output;
    EXPECT_FALSE(std::ifstream(Path("trace.txt")).good());  // no device was looked at
}

TEST_F(CliFormat, OutputsAreNeverWrittenToADeviceOrFolder) {
    // /dev/zero stands in for a disk node: it takes writes, so a missing check shows as success.
    std::filesystem::create_directories(Path("folder"));
    for (const char* option : {"--log", "--export-image", "--export-pages", "--trace"}) {
        for (std::string target : {std::string("/dev/zero"), Path("folder")}) {
            Finished run =
                RunBrevant({"format", "--yes", "--simulate", shop_, option, target}, InDir());
            EXPECT_EQ(run.exitCode, kExitUsage) << option << " " << target << "\n" << run.output;
            EXPECT_NE(run.output.find(target + ": not a plain file"), std::string::npos)
                << run.output;
            EXPECT_EQ(run.output.find("Formatting..."), std::string::npos);
        }
    }
    // The log's default name, when it leads to a device, is not written either.
    WriteFile(Path("Brevant.ini"), "[Setting]\nGenerateLog=1\n");
    std::filesystem::create_symlink("/dev/zero", Path("brevant.log"));
    Finished linked = RunBrevant({"format", "--yes", "--simulate", shop_}, InDir());
    EXPECT_EQ(linked.exitCode, kExitComplete) << linked.output;
    EXPECT_NE(linked.output.find("warning: brevant.log: a symbolic link; nothing is written "
                                 "through one; the run is not logged"),
              std::string::npos)
        << linked.output;
    // A dangling link would create the file it names: not followed.
    for (const char* option : {"--log", "--export-image", "--trace"}) {
        const std::string link = Path(std::string("dangling") + option);
        std::filesystem::create_symlink(Path("made-by-brevant"), link);
        Finished dangling =
            RunBrevant({"format", "--yes", "--simulate", shop_, option, link}, InDir());
        EXPECT_EQ(dangling.exitCode, kExitUsage) << dangling.output;
        EXPECT_NE(dangling.output.find(link + ": a symbolic link; nothing is written through one"),
                  std::string::npos)
            << dangling.output;
    }
    EXPECT_FALSE(std::filesystem::exists(Path("made-by-brevant")));
    std::filesystem::remove(Path("Brevant.ini"));
    Finished discarded =
        RunBrevant({"format", "--yes", "--simulate", shop_, "--log", "/dev/null"}, InDir());
    EXPECT_EQ(discarded.exitCode, kExitComplete) << discarded.output;
}

TEST_F(CliFormat, BadCommandLines) {
    const std::vector<std::vector<std::string>> lines = {
        {},
        {"frobnicate"},
        {"format", "--bogus"},
        {"format", "--device"},
        {"format", "--device="},
        {"list", "--full"},
        {"list", "sim:E", "sim:F"},  // list looks at one node, or at all
        {"watch", "sim:E"},
        {"format", "--yes=1"},
        {"format", "--export-image", "x.img"},  // only for the simulated disk
        {"format", "--simulate", "x.txt", "--sim-latency", "fast"},
    };
    for (const auto& args : lines) {
        Finished run = RunBrevant(args, InDir());
        EXPECT_EQ(run.exitCode, kExitUsage) << (args.empty() ? "" : args[0]);
        EXPECT_NE(run.output.find("brevant: try 'brevant --help' for more information\n"),
                  std::string::npos)
            << run.output;
    }
    Finished help = RunBrevant({"--help"});
    EXPECT_EQ(help.exitCode, kExitComplete);
    EXPECT_NE(help.output.find("Exit status: 0 complete, 1 failed, 2 usage error, 3 cancelled"),
              std::string::npos);

    Finished broken =
        RunBrevant({"list", "--simulate", Describe("broken.txt", "reader adapter=x\n")}, InDir());
    EXPECT_EQ(broken.exitCode, kExitUsage);
    EXPECT_NE(broken.output.find("broken.txt: line 1"), std::string::npos) << broken.output;
}

TEST_F(CliFormat, OptionsAsTheEcosystemWritesThem) {
    const std::string disk =
        Describe("one.txt", "reader adapter=0 target=0\nunit DS drive=E\nbanks 6E\ncis page=0\n");
    // Bundled short options, a value glued to its letter, and -- before nothing.
    Finished bundled = RunBrevant({"-fy", "format", "-dsim:E", "--simulate", disk, "--"}, InDir());
    EXPECT_EQ(bundled.exitCode, kExitComplete) << bundled.output;
    EXPECT_NE(bundled.output.find("Format: Full"), std::string::npos) << bundled.output;

    // After --, a word that looks like an option is a word: a device to format.
    Finished ended = RunBrevant({"format", "--yes", "--simulate", disk, "--", "--full"}, InDir());
    EXPECT_EQ(ended.exitCode, kExitNoDisk);
    EXPECT_NE(ended.output.find("brevant: --full: no such device"), std::string::npos)
        << ended.output;
    Finished watched = RunBrevant({"watch", "--yes", "--simulate", disk, "--", "--full"}, InDir());
    EXPECT_EQ(watched.exitCode, kExitUsage);
    EXPECT_NE(watched.output.find("watch takes no argument --full"), std::string::npos)
        << watched.output;

    // An option of another command is named with the command it belongs to.
    Finished misplaced = RunBrevant({"list", "-y", "--simulate", disk}, InDir());
    EXPECT_EQ(misplaced.exitCode, kExitUsage);
    EXPECT_NE(misplaced.output.find(
                  "brevant: -y (--yes) belongs to format, watch and restore-cis, not list"),
              std::string::npos)
        << misplaced.output;
    Finished unknownShort = RunBrevant({"format", "-fz"}, InDir());
    EXPECT_NE(unknownShort.output.find("brevant: unknown option -z"), std::string::npos)
        << unknownShort.output;

    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--version"}, {"-V"}, {"format", "-V"}}) {
        Finished version = RunBrevant(args);
        EXPECT_EQ(version.exitCode, kExitComplete);
        EXPECT_EQ(version.output.compare(0, 8, "brevant "), 0) << version.output;
        EXPECT_NE(version.output.find("SG_IO"), std::string::npos) << version.output;
    }

    Finished help = RunBrevant({"help", "format"});
    EXPECT_EQ(help.exitCode, kExitComplete);
    EXPECT_EQ(help.output, RunBrevant({"format", "--help"}).output);
    EXPECT_NE(help.output.find("-f, --full"), std::string::npos) << help.output;
    EXPECT_EQ(RunBrevant({"help", "frobnicate"}).exitCode, kExitUsage);
    // Every help text fits an 80-column terminal.
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--help"}, {"help", "list"}, {"help", "format"}}) {
        std::istringstream lines(RunBrevant(args).output);
        std::string line;
        while (std::getline(lines, line)) EXPECT_LE(line.size(), 80u) << line;
    }
}

// Whatever goes wrong, and whatever -v and -vv add, the lines on standard error say whose they
// are; a file that is at fault is named once, with the system's reason.
TEST_F(CliFormat, EveryLineOnStandardErrorBeginsWithTheProgramsName) {
    WriteFile(Path("broken.ini"), "[Setting]\nGenerateLog=maybe\n");
    std::filesystem::create_directory(Path("folder"));
    const std::string small = Describe("small.txt", kSmallDisk);
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string expected;  // a line that must be among them
    };
    const std::vector<Case> cases = {
        {{"frobnicate"}, kExitUsage, "brevant: unknown command frobnicate"},
        {{"list", "--yes"}, kExitUsage, ""},
        {{"format", "-y", "--simulate", "nosuch.txt"},
         kExitUsage,
         "brevant: nosuch.txt: cannot read the description: No such file or directory"},
        {{"list", "--simulate", "/dev/zero"},
         kExitUsage,
         "brevant: /dev/zero: cannot read the description: not a plain file"},
        {{"list", "--simulate", Path("folder")},
         kExitUsage,
         "brevant: " + Path("folder") + ": cannot read the description: a folder, not a file"},
        {{"format", "--simulate", shop_}, kExitUsage, ""},
        {{"format", "-y", "--simulate", protected_}, kExitNoDisk, ""},
        {{"format", "-y", "--simulate", slots_}, kExitNoDisk, ""},
        {{"check", "--simulate", slots_}, kExitNoDisk, ""},
        {{"format", "-y", "--simulate", shop_, "--device", "sim:Q"}, kExitNoDisk, ""},
        {{"format", "-y", "--settings", Path("broken.ini"), "--simulate", shop_}, kExitUsage, ""},
        {{"format", "-y", "--settings", Path("none.ini"), "--simulate", shop_},
         kExitUsage,
         "brevant: " + Path("none.ini") +
             ": cannot read the settings file: No such file or directory"},
        {{"format", "-y", "--log", Path("no/such/run.log"), "--simulate", shop_}, kExitUsage, ""},
        {{"restore-cis", "-y", Path("none.cis"), "--simulate", shop_}, kExitUsage, ""},
        {{"-v", "format", "-y", "--simulate", small}, kExitComplete, "brevant: phase: scan"},
        {{"-vv", "format", "-y", "--simulate", small}, kExitComplete, ""},
    };
    for (const Case& c : cases) {
        Brevant::Options options = InDir();
        options.errorsOnly = true;
        Finished run = RunBrevant(c.args, options);
        const std::string shown = c.args.back() + ": " + run.output;
        EXPECT_EQ(run.exitCode, c.exitCode) << shown;
        EXPECT_FALSE(run.output.empty()) << shown;
        std::istringstream lines(run.output);
        std::set<std::string> seen;
        for (std::string line; std::getline(lines, line);) {
            EXPECT_EQ(line.rfind("brevant: ", 0), 0u) << shown;
            seen.insert(line);
        }
        if (!c.expected.empty()) {
            EXPECT_EQ(seen.count(c.expected), 1u) << shown;
        }
    }

    // -vv tells every command and what came of it, the erases of the run among them.
    Brevant::Options options = InDir();
    options.errorsOnly = true;
    Finished echoed = RunBrevant({"-vv", "format", "-y", "--simulate", small}, options);
    EXPECT_NE(echoed.output.find("brevant: sim:E: INQUIRY 12 00 00 00 38 00 00 00 00 00 00 00 in "
                                 "56: good\n"),
              std::string::npos)
        << echoed.output.substr(0, 2000);
    EXPECT_NE(echoed.output.find(": ERASE F2 "), std::string::npos);
    EXPECT_NE(echoed.output.find("brevant: phase: CIS page and volume\n"), std::string::npos);
}

TEST_F(CliFormat, ThirtySticksAreListedAndTheThirtiethIsFormatted) {
    std::string text;
    for (int stick = 1; stick <= 30; ++stick) {
        text += "reader\nunit DS node=s" + std::to_string(stick) + "\nbanks 6E\ncis page=0\n";
    }
    const std::string hub = Describe("hub.txt", text);
    Finished list = RunBrevant({"list", "--simulate", hub}, InDir());
    EXPECT_EQ(list.exitCode, kExitComplete) << list.output;
    for (int stick = 1; stick <= 30; ++stick) {
        EXPECT_NE(list.output.find("sim:s" + std::to_string(stick) + ": "), std::string::npos)
            << stick << "\n"
            << list.output;
    }
    Finished run = RunBrevant(
        {"format", "--yes", "--simulate", hub, "--device", "sim:s30", "--trace", Path("hub.log")},
        InDir());
    EXPECT_EQ(run.exitCode, kExitComplete) << run.output;
    const std::string trace = ReadFile(Path("hub.log"));
    EXPECT_NE(trace.find("reader 29 lun 0: F2 "), std::string::npos);
    EXPECT_EQ(trace.find("reader 28 lun 0:"), std::string::npos);  // no other stick is asked
}

// ---- Listing and rights ----

TEST_F(CliFormat, ListShowsEveryUnitAndWritesNothing) {
    Finished disk = RunBrevant({"list", "--simulate", shop_, "--trace", Path("list.log")}, InDir());
    EXPECT_EQ(disk.exitCode, kExitComplete) << disk.output;
    EXPECT_NE(disk.output.find("sim:E: USB flash disk, BREVSIM USB Flash Disk 1.00\n"
                               "  size: 62.5 MiB (128000 sectors)\n"
                               "  write-protected: not probed"),
              std::string::npos)
        << disk.output;
    std::istringstream trace(ReadFile(Path("list.log")));
    std::string line;
    while (std::getline(trace, line)) EXPECT_TRUE(IsReadingCommand(line)) << line;

    // Asked to, it tries a write and says what came of it.
    Finished probed =
        RunBrevant({"list", "--probe-write-protect", "--simulate", protected_}, InDir());
    EXPECT_NE(probed.output.find("  write-protected: yes (a write was refused as protected)"),
              std::string::npos)
        << probed.output;

    Finished slots = RunBrevant({"list", "--simulate", slots_}, InDir());
    EXPECT_EQ(slots.exitCode, kExitComplete) << slots.output;
    EXPECT_NE(slots.output.find("sim:E: CompactFlash slot"), std::string::npos);
    EXPECT_NE(slots.output.find("sim:F: SmartMedia slot"), std::string::npos);
    EXPECT_NE(slots.output.find("sim:G: MMC slot"), std::string::npos);
    Finished format = RunBrevant({"format", "--yes", "--simulate", slots_}, InDir());
    EXPECT_EQ(format.exitCode, kExitNoDisk);
    EXPECT_NE(format.output.find("card slots"), std::string::npos) << format.output;

    Finished empty =
        RunBrevant({"list", "--simulate", Describe("empty.txt", "# nothing here\n")}, InDir());
    EXPECT_EQ(empty.exitCode, kExitNoDisk) << empty.output;
    EXPECT_NE(empty.output.find("brevant: the simulated machine has no drives"), std::string::npos)
        << empty.output;
}

// Two sticks side by side are told apart by what they say they are.
TEST_F(CliFormat, ListTellsTwoSticksApart) {
    const std::string two = Describe(
        "two.txt",
        "reader adapter=0 target=0\nunit DS drive=E name=\"Kingfish Data\"\nbanks 73\n"
        "reader adapter=0 target=1\nunit DS drive=F name=\"Acme Pocket Disk\"\nbanks 73\n");
    Finished list = RunBrevant({"list", "--simulate", two}, InDir());
    EXPECT_EQ(list.exitCode, kExitComplete) << list.output;
    EXPECT_NE(list.output.find("sim:E: USB flash disk, BREVSIM Kingfish Data"), std::string::npos)
        << list.output;
    EXPECT_NE(list.output.find("sim:F: USB flash disk, BREVSIM Acme Pocket Disk"),
              std::string::npos)
        << list.output;
}

TEST_F(CliFormat, WhichFlashDiskIsFormatted) {
    // Two sticks: the program does not guess.
    std::string two = Describe("two.txt",
                               "reader adapter=0 target=0\nunit DS drive=E\nbanks 73\n"
                               "reader adapter=0 target=1\nunit DS drive=F\nbanks 73\n");
    Finished guess = RunBrevant({"format", "--yes", "--simulate", two}, InDir());
    EXPECT_EQ(guess.exitCode, kExitUsage);
    EXPECT_NE(guess.output.find("several USB flash disks found (sim:E sim:F): name the one to "
                                "format with --device"),
              std::string::npos)
        << guess.output;
    Finished named = RunBrevant(
        {"format", "--yes", "--simulate", two, "--device", "sim:F", "--trace", Path("two.log")},
        InDir());
    EXPECT_EQ(named.exitCode, kExitComplete) << named.output;
    std::string trace = ReadFile(Path("two.log"));
    EXPECT_NE(trace.find("reader 1 lun 0: F2 "), std::string::npos);
    EXPECT_EQ(trace.find("reader 0 lun 0: F2 "), std::string::npos);  // the other stick untouched

    // A flash disk behind a card slot of its reader is formatted on its own node.
    std::string behind = Describe("behind.txt",
                                  "reader adapter=0 target=0\nunit CF drive=E\nunit DS drive=F\n"
                                  "banks 73\n");
    Finished list = RunBrevant({"list", "--simulate", behind}, InDir());
    // Each node is discovered on its own, so the disk is the first unit of its discovery.
    EXPECT_NE(list.output.find("sim:F: USB flash disk"), std::string::npos) << list.output;
    Finished run = RunBrevant({"format", "--yes", "--simulate", behind}, InDir());
    EXPECT_EQ(run.exitCode, kExitComplete) << run.output;
    EXPECT_NE(run.output.find("Device: sim:F"), std::string::npos);
}

TEST_F(CliFormat, RealDevicesNeedRootTheSimulatorDoesNot) {
    if (getuid() != 0) {
        Finished run = RunBrevant({"list"});
        EXPECT_EQ(run.exitCode, kExitNoDisk);
        EXPECT_NE(run.output.find("need root"), std::string::npos) << run.output;
        return;
    }
    Brevant::Options nobody;
    nobody.asNobody = true;
    // The unprivileged run must be able to read the description and to reach the program, which
    // may be built in a folder only root can enter: a copy of it runs from the test's folder.
    ASSERT_EQ(chmod(dir_.Path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(shop_.c_str(), 0644), 0);
    nobody.program = Path("brevant");
    std::filesystem::copy_file(kBrevant, nobody.program);
    ASSERT_EQ(chmod(nobody.program.c_str(), 0755), 0);
    Finished run = RunBrevant({"format", "--yes"}, nobody);
    EXPECT_EQ(run.exitCode, kExitNoDisk) << run.output;
    EXPECT_NE(run.output.find("raw commands to a USB disk need root"), std::string::npos)
        << run.output;
    Finished simulated = RunBrevant({"list", "--simulate", shop_}, nobody);
    EXPECT_EQ(simulated.exitCode, kExitComplete) << simulated.output;
}

}  // namespace
