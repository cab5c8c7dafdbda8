// brevant run as root among folders others can write to, by a careless user or a hostile one:
// no file written through a planted link, no folder's rights changed, no stick given another's
// pages, no signal leaving a stick without its CIS page, no crash on a bad path.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "sim/sim_bus.h"
#include "sim/sim_flash_disk.h"
#include "sim/sim_state.h"
#include "tests/brevant_process.h"
#include "tests/cli_fixture.h"

namespace {

using namespace brevant_test;
namespace fs = std::filesystem;

// A 16 MiB stick with an old CIS page and a vendor page, and its USB serial number. Its old CIS
// page is not the one a format writes: a stick whose page is back was not formatted to the end.
std::string Stick(const std::string& node, const std::string& serial,
                  const std::string& vendorText) {
    return "reader serial=" + serial + "\nunit DS node=" + node +
           "\nbanks 73\ncis page=0 sectors=30000\nvendor-page text=\"" + vendorText + "\"\n";
}

// What a stand-in for a file of the system's holds: it must never change.
const char kPrecious[] = "root:x:0:0:root:/root:/bin/bash\n";

// The commands the program sent, as -vv echoes them on standard error.
int EchoedCommands(const std::string& output) { return Count(output, "brevant: sim:"); }

// The opcodes of the commands -vv echoed: "brevant: sim:E: ERASE F2 00 ...: good" is F2.
std::vector<std::string> EchoedOpcodes(const std::string& output) {
    std::vector<std::string> opcodes;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, 13, "brevant: sim:") != 0) continue;
        std::istringstream words(line.substr(line.find(": ", 9) + 2));
        for (std::string word; words >> word;) {
            if (word.size() == 2 && std::isxdigit(static_cast<unsigned char>(word[0])) &&
                std::isxdigit(static_cast<unsigned char>(word[1]))) {
                opcodes.push_back(word);
                break;
            }
        }
    }
    return opcodes;
}

// Whether a command that erases or programs flash was sent.
bool FlashWasWritten(const std::vector<std::string>& opcodes) {
    for (const std::string& op : opcodes) {
        if (op == "F2" || op == "E9" || op == "C1" || op == "F1") return true;
    }
    return false;
}

mode_t ModeOf(const std::string& path) {
    struct stat info = {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

bool IsLink(const std::string& path) { return S_ISLNK(ModeOf(path)); }

// bank 0's first two pages (the old CIS page and the vendor page) as exported.
std::string FirstTwoPages(const std::string& exported) {
    return exported.substr(0, 2 * sim::kPageImageBytes);
}

std::string OriginalPages(const std::string& description, std::size_t disk = 0) {
    std::string error;
    auto bus = sim::SimBus::Load(description, &error);
    if (!bus) return error;
    const sim::PageBytes cis = bus->FlashDisk(disk)->ReadPage(0, 0);
    const sim::PageBytes vendor = bus->FlashDisk(disk)->ReadPage(0, 1);
    return std::string(cis.begin(), cis.end()) + std::string(vendor.begin(), vendor.end());
}

// A small file system of its own, filled to the last block: what a full disk is to a program.
// Mounting needs root; without it the test that needs one is skipped.
class FullFileSystem {
  public:
    explicit FullFileSystem(const std::string& path) : path_(path) {
        fs::create_directories(path_);
        if (::mount("tmpfs", path_.c_str(), "tmpfs", 0, "size=256k,mode=0755") != 0) return;
        mounted_ = true;
    }
    ~FullFileSystem() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }
    // Fills what is left; the files already there stay as they are.
    void Fill() {
        std::ofstream filler(path_ + "/filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) {
        }
    }

  private:
    std::string path_;
    bool mounted_ = false;
};

class RootSafety : public CliTest {
  protected:
    void SetUp() override {
        CliTest::SetUp();
        disk_ = Describe("disk.txt", Stick("stick", "AAA111", "STICK A"));
        WriteFile(Path("passwd"), kPrecious);
    }
    // Runs a format that is refused before it starts, -vv so that any command would show.
    Finished Refused(const std::vector<std::string>& extra) {
        std::vector<std::string> args = {"format", "--yes", "-vv", "--simulate", disk_};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunBrevant(args, InDir());
    }

    std::string disk_;
};

// ---- Folders ----

TEST_F(RootSafety, AFolderOfOthersKeepsItsRightsAndFoldersOfItsOwnAreItsOwnersAlone) {
    // A scratch folder as /tmp is: everybody's, with the sticky bit.
    const std::string scratch = Path("scratch");
    ASSERT_EQ(mkdir(scratch.c_str(), 0700), 0);
    ASSERT_EQ(chmod(scratch.c_str(), 01777), 0);
    Finished run =
        RunBrevant({"format", "--yes", "--simulate", disk_, "--backup-dir", scratch}, InDir());
    EXPECT_EQ(run.exitCode, kExitComplete) << run.output;
    EXPECT_EQ(ModeOf(scratch) & 07777, 01777u);
    ASSERT_EQ(FilesIn("scratch").size(), 1u) << run.output;
    EXPECT_EQ(ModeOf(FilesIn("scratch")[0]) & 0777, 0600u);
    // A shared project folder given as ".": its rights stay too.
    ASSERT_EQ(chmod(dir_.Path().c_str(), 0775), 0);
    Finished here =
        RunBrevant({"format", "--yes", "--simulate", disk_, "--backup-dir", "."}, InDir());
    EXPECT_EQ(here.exitCode, kExitComplete) << here.output;
    EXPECT_EQ(ModeOf(dir_.Path()) & 07777, 0775u);
    // The folders it makes are its owner's alone, each of them; the one above stays as it was.
    ASSERT_EQ(mkdir(Path("shared").c_str(), 0755), 0);
    Finished made = RunBrevant(
        {"format", "--yes", "--simulate", disk_, "--backup-dir", Path("shared/new/cis")}, InDir());
    EXPECT_EQ(made.exitCode, kExitComplete) << made.output;
    EXPECT_EQ(ModeOf(Path("shared")) & 07777, 0755u);
    EXPECT_EQ(ModeOf(Path("shared/new")) & 07777, 0700u);
    EXPECT_EQ(ModeOf(Path("shared/new/cis")) & 07777, 0700u);
    EXPECT_EQ(FilesIn("shared/new/cis").size(), 1u);
}

// The paths that crashed the program: each is a message and an exit status, before anything
// was sent to a stick.
TEST_F(RootSafety, AFolderThatCannotBeUsedIsRefusedWithItsReasonNotACrash) {
    fs::create_symlink("loop-b", Path("loop-a"));
    fs::create_symlink("loop-a", Path("loop-b"));
    const std::string tooLong = Path(std::string(300, 'x') + "/" + std::string(300, 'y'));
    struct Case {
        std::vector<std::string> args;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {{"--report-dir", Path("loop-a")}, "loop-a: a symbolic link (or a loop of them)"},
        {{"--report-dir", tooLong}, "File name too long"},
        {{"--backup-dir", Path("loop-a")}, "loop-a: a symbolic link (or a loop of them)"},
        {{"--backup-dir", tooLong}, "File name too long"},
        {{"--backup-dir", Path("passwd")}, "passwd: not a folder"},
    };
    for (const Case& c : cases) {
        Finished run = Refused(c.args);
        EXPECT_EQ(run.exitCode, kExitUsage) << c.args[1] << "\n" << run.output;
        EXPECT_NE(run.output.find(c.reason), std::string::npos) << run.output;
        EXPECT_EQ(EchoedCommands(run.output), 0) << run.output;
    }
    if (getuid() != 0) return;
    // As a user who can see a folder but not search it (root searches every folder).
    Brevant::Options nobody = InDir();
    nobody.asNobody = true;
    nobody.program = Path("brevant");
    fs::copy_file(kBrevant, nobody.program);
    ASSERT_EQ(chmod(nobody.program.c_str(), 0755), 0);
    ASSERT_EQ(chmod(dir_.Path().c_str(), 0777), 0);
    ASSERT_EQ(chmod(disk_.c_str(), 0644), 0);
    ASSERT_EQ(mkdir(Path("unsearchable").c_str(), 0744), 0);
    ASSERT_EQ(mkdir(Path("unsearchable/inner").c_str(), 0777), 0);
    for (const char* option : {"--backup-dir", "--report-dir"}) {
        Finished run = RunBrevant(
            {"format", "--yes", "-vv", "--simulate", disk_, option, Path("unsearchable/inner")},
            nobody);
        EXPECT_EQ(run.exitCode, kExitUsage) << option << "\n" << run.output;
        EXPECT_NE(run.output.find("Permission denied"), std::string::npos) << run.output;
        EXPECT_EQ(EchoedCommands(run.output), 0) << run.output;
        EXPECT_EQ(run.output.find("Formatting..."), std::string::npos) << run.output;
    }
}

// ---- Files ----

TEST_F(RootSafety, AnOutputThatIsALinkADevicePipeOrInAMissingFolderIsRefusedBeforeAnyCommand) {
    fs::create_symlink(Path("passwd"), Path("link"));
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    for (const char* option :
         {"--report", "--map", "--log", "--trace", "--export-image", "--export-pages"}) {
        struct Case {
            std::string path;
            std::string reason;
        };
        const Case cases[] = {
            {Path("link"), Path("link") + ": a symbolic link; nothing is written through one"},
            {Path("fifo"), Path("fifo") + ": not a plain file (a device, pipe or socket)"},
            {"/dev/zero", "/dev/zero: not a plain file (a device, pipe or socket)"},
            {Path("missing/out"),
             Path("missing/out") + ": its folder " + Path("missing") + ": No such file"},
            {Path("passwd/out"), ": its folder " + Path("passwd") + ": not a folder"},
        };
        for (const Case& c : cases) {
            std::vector<std::string> args = {option, c.path};
            if (std::string(option) != "--trace") {
                args.insert(args.end(), {"--trace", Path("trace.txt")});
            }
            Finished run = Refused(args);
            EXPECT_EQ(run.exitCode, kExitUsage) << option << " " << c.path << "\n" << run.output;
            EXPECT_NE(run.output.find(c.reason), std::string::npos) << run.output;
            EXPECT_EQ(EchoedCommands(run.output), 0) << run.output;
            EXPECT_TRUE(ReadFile(Path("trace.txt")).empty());  // the trace holds no command
        }
    }
    EXPECT_EQ(ReadFile(Path("passwd")), kPrecious);
    EXPECT_TRUE(IsLink(Path("link")));
    // The null device takes an output and nothing is opened for it.
    Finished discarded = RunBrevant({"format", "--yes", "--simulate", disk_, "--report",
                                     "/dev/null", "--log", "/dev/null", "--trace", "/dev/null"},
                                    InDir());
    EXPECT_EQ(discarded.exitCode, kExitComplete) << discarded.output;
}

// The attack of a user who can write to the folder: a link put where a report will go, once the
// run has begun (its paths were checked and commands were sent). Whatever is planted is
// replaced or refused; nothing is written through it.
TEST_F(RootSafety, LinksAndPipesPlantedDuringTheRunAreNeverWrittenThrough) {
    WriteFile(Path("old-log.txt"), "an earlier run\n");
    Brevant::Options terminal = InDir();
    terminal.terminal = true;
    Brevant run({"format", "-vv", "--simulate", disk_, "--report", Path("report.json"), "--map",
                 Path("map.svg"), "--log", Path("run.log"), "--export-pages", Path("pages.bin"),
                 "--export-image", Path("disk.img")},
                terminal);
    // The question comes once the stick has been looked at: its paths were checked before.
    ASSERT_TRUE(run.WaitFor("Format it? [y/N]")) << run.Output();
    ASSERT_GT(EchoedCommands(run.Output()), 0) << run.Output();
    for (const char* name : {"report.json", "run.log", "pages.bin"}) {
        fs::create_symlink(Path("passwd"), Path(name));
    }
    fs::create_symlink(Path("old-log.txt"), Path("disk.img"));
    ASSERT_EQ(mkfifo(Path("map.svg").c_str(), 0600), 0);
    run.Type("y\n");
    EXPECT_EQ(run.Finish(), kExitFailed) << run.Output();  // complete, but the map is not written
    EXPECT_NE(run.Output().find("Result: complete"), std::string::npos) << run.Output();

    EXPECT_EQ(ReadFile(Path("passwd")), kPrecious);
    EXPECT_EQ(ReadFile(Path("old-log.txt")), "an earlier run\n");
    // The report and the exports took the links' places; the log is not added to through one.
    EXPECT_TRUE(S_ISREG(ModeOf(Path("report.json"))));
    EXPECT_EQ(nlohmann::json::parse(ReadFile(Path("report.json")))["result"], "complete");
    EXPECT_TRUE(S_ISREG(ModeOf(Path("pages.bin"))));
    EXPECT_TRUE(S_ISREG(ModeOf(Path("disk.img"))));
    EXPECT_TRUE(IsLink(Path("run.log")));
    EXPECT_NE(run.Output().find("warning: " + Path("run.log") +
                                ": a symbolic link; nothing is written through one"),
              std::string::npos)
        << run.Output();
    // A pipe is neither opened (no reader would come) nor replaced.
    EXPECT_TRUE(S_ISFIFO(ModeOf(Path("map.svg"))));
    EXPECT_NE(run.Output().find(Path("map.svg") + ": not a plain file (a device, pipe or socket)"),
              std::string::npos)
        << run.Output();
}

TEST_F(RootSafety, AReportThatCannotBeWrittenLeavesTheOldOneWholeAndALogFailureIsWarned) {
    const std::string oldReport = "{\"an\": \"earlier report\"}\n" + std::string(3000, ' ');
    WriteFile(Path("report.json"), oldReport);
    const std::string oldLog = std::string(3000, '=') + "\n";
    WriteFile(Path("run.log"), oldLog);
    // Sixty bad blocks make a report of some 4 KiB. Files may grow to 2000 bytes: the kept pages
    // (some 1340 bytes) fit, the report does not, and the log is past it already.
    std::string bad = "bad";
    for (int block = 100; block < 160; ++block) bad += " 0:" + std::to_string(block);
    const std::string worn = Describe("worn.txt", Stick("stick", "AAA111", "A") + bad + "\n");
    Brevant::Options limited = InDir();
    limited.fileSizeLimit = 2000;
    Finished run = RunBrevant({"format", "--yes", "--simulate", worn, "--report",
                               Path("report.json"), "--log", Path("run.log")},
                              limited);
    EXPECT_EQ(run.exitCode, kExitFailed) << run.output;
    EXPECT_NE(run.output.find("Result: complete"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("brevant: " + Path("report.json") +
                              ": cannot be written: File too large; the report is not written"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(ReadFile(Path("report.json")), oldReport);
    EXPECT_NE(run.output.find("brevant: warning: " + Path("run.log") +
                              ": cannot be written: File too large"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(ReadFile(Path("run.log")), oldLog);
    // Nothing of the attempts is left beside them.
    for (const std::string& file : FilesIn(".")) {
        EXPECT_EQ(file.find(".part"), std::string::npos) << file;
    }
}

TEST_F(RootSafety, AFullFileSystemIsFoundBeforeAnyCommand) {
    if (getuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    FullFileSystem full(Path("full"));
    if (!full.Mounted()) GTEST_SKIP() << "no tmpfs: " << std::strerror(errno);
    WriteFile(Path("full/report.json"), "{}\n");
    full.Fill();
    for (const char* option : {"--report", "--log", "--backup-dir"}) {
        const std::string path =
            std::string(option) == "--backup-dir" ? Path("full") : Path("full/report.json");
        Finished run = Refused({option, path});
        EXPECT_EQ(run.exitCode, kExitUsage) << option << "\n" << run.output;
        EXPECT_NE(run.output.find("its file system is full"), std::string::npos) << run.output;
        EXPECT_EQ(EchoedCommands(run.output), 0) << run.output;
    }
    EXPECT_EQ(ReadFile(Path("full/report.json")), "{}\n");
}

// Pages that cannot be kept stop the format before it erases anything: said on standard error as
// a fault of this machine's files, with its own exit status.
TEST_F(RootSafety, OldPagesThatCannotBeKeptAreAFaultOfTheFilesNotOfTheStick) {
    Brevant::Options limited = InDir();
    limited.fileSizeLimit = 1000;  // the kept pages take 1337 bytes
    Finished run = RunBrevant(
        {"format", "--yes", "-vv", "--simulate", disk_, "--backup-dir", Path("pages")}, limited);
    EXPECT_EQ(run.exitCode, kExitNoDisk) << run.output;
    EXPECT_NE(run.output.find("brevant: the old CIS page could not be kept: " + Path("pages") +
                              "/AAA111-"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("File too large; nothing was erased"), std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("The stick said"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Nothing was changed."), std::string::npos) << run.output;
    EXPECT_TRUE(FilesIn("pages").empty());
    const std::vector<std::string> sent = EchoedOpcodes(run.output);
    EXPECT_FALSE(sent.empty());
    EXPECT_FALSE(FlashWasWritten(sent)) << run.output;
}

// ---- Signals ----

TEST_F(RootSafety, EveryTerminatingSignalStopsTheRunAndPutsThePagesBack) {
    const std::string original = OriginalPages(disk_);
    ASSERT_EQ(original.size(), 2 * sim::kPageImageBytes) << original;
    for (int signal : {SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGHUP, SIGTERM}) {
        const std::string pages = Path("pages-" + std::to_string(signal) + ".bin");
        Brevant run({"format", "--yes", "-vv", "--simulate", disk_, "--sim-latency", "1000",
                     "--export-pages", pages},
                    InDir());
        // Block 0, where the old CIS page was, has been erased: only the stop path puts it back.
        ASSERT_TRUE(run.WaitFor("ERASE F2 00 00 00 00 00 00 00 00 00 00 00: good"))
            << strsignal(signal) << "\n"
            << run.Output();
        run.Signal(signal);
        EXPECT_EQ(run.Finish(), kExitCancelled) << strsignal(signal) << "\n" << run.Output();
        EXPECT_NE(run.Output().find("Result: stopped\n"), std::string::npos) << run.Output();
        EXPECT_NE(run.Output().find("The old CIS and vendor pages are back.\n"), std::string::npos)
            << run.Output();
        EXPECT_EQ(FirstTwoPages(ReadFile(pages)), original) << strsignal(signal);
    }
}

// ---- Restoring ----

class Restore : public RootSafety {
  protected:
    void SetUp() override {
        RootSafety::SetUp();
        // Two sticks of one kind, both with their pages: A and B.
        both_ = Describe("both.txt",
                         Stick("sa", "AAA111", "STICK A") + Stick("sb", "BBB222", "STICK B"));
    }
    // Formats A to the end: its old pages are kept in a file, and its CIS page is a new one.
    std::string PagesOfA() {
        Finished run =
            RunBrevant({"format", "--yes", "-d", "sim:sa", "--simulate", both_}, InDir());
        EXPECT_EQ(run.exitCode, kExitComplete) << run.output;
        return Backups().empty() ? std::string() : Backups().back();
    }

    std::string both_;
};

TEST_F(Restore, OneSticksPagesAreNotPutOnAnother) {
    const std::string fileOfA = PagesOfA();
    ASSERT_FALSE(fileOfA.empty());
    const std::string pagesOfB = OriginalPages(both_, 1);
    Finished refused =
        RunBrevant({"restore-cis", fileOfA, "--yes", "-d", "sim:sb", "--simulate", both_, "--trace",
                    Path("trace.txt"), "--export-pages", Path("b.bin")},
                   InDir());
    EXPECT_EQ(refused.exitCode, kExitNoDisk) << refused.output;
    EXPECT_NE(refused.output.find("brevant: sim:sb is not the stick the pages in"),
              std::string::npos)
        << refused.output;
    EXPECT_NE(refused.output.find("they differ in USB serial and USB port"), std::string::npos)
        << refused.output;
    // Both are named.
    EXPECT_NE(refused.output.find("the pages' stick: USB serial \"AAA111\", at \"sim:sa\""),
              std::string::npos)
        << refused.output;
    EXPECT_NE(refused.output.find("the stick in sim:sb: USB serial \"BBB222\", at \"sim:sb\""),
              std::string::npos)
        << refused.output;
    EXPECT_EQ(refused.output.find("back on"), std::string::npos);
    const std::string trace = ReadFile(Path("trace.txt"));
    for (const char* writing : {": F2 ", ": E9 ", ": C1 ", ": F1 "}) {
        EXPECT_EQ(trace.find(writing), std::string::npos) << writing;
    }
    EXPECT_EQ(FirstTwoPages(ReadFile(Path("b.bin"))), pagesOfB);

    // --force asks a person, on a terminal, and --yes is not an answer.
    Finished unattended = RunBrevant(
        {"restore-cis", fileOfA, "--yes", "--force", "-d", "sim:sb", "--simulate", both_}, InDir());
    EXPECT_EQ(unattended.exitCode, kExitUsage) << unattended.output;
    EXPECT_NE(unattended.output.find("--force asks on a terminal"), std::string::npos);
    Brevant::Options terminal = InDir();
    terminal.terminal = true;
    Brevant asked({"restore-cis", fileOfA, "--yes", "--force", "-d", "sim:sb", "--simulate", both_,
                   "--export-pages", Path("b2.bin")},
                  terminal);
    ASSERT_TRUE(asked.WaitFor("Write the pages of that stick onto sim:sb all the same? [y/N]"))
        << asked.Output();
    EXPECT_NE(asked.Output().find("USB serial \"BBB222\""), std::string::npos);
    asked.Type("n\n");
    EXPECT_EQ(asked.Finish(), kExitCancelled) << asked.Output();
    EXPECT_EQ(FirstTwoPages(ReadFile(Path("b2.bin"))), pagesOfB);
    // Said yes to, they go on.
    Brevant forced({"restore-cis", fileOfA, "--yes", "--force", "-d", "sim:sb", "--simulate", both_,
                    "--export-pages", Path("b3.bin")},
                   terminal);
    ASSERT_TRUE(forced.WaitFor("all the same? [y/N]")) << forced.Output();
    forced.Type("y\n");
    EXPECT_EQ(forced.Finish(), kExitComplete) << forced.Output();
    EXPECT_EQ(FirstTwoPages(ReadFile(Path("b3.bin"))), OriginalPages(both_, 0));
}

// A stick that stops answering during its scan is left without its old pages: the file that
// holds them is named in the summary, the report and the log, and puts them back.
TEST_F(Restore, OntoItsOwnStickThePagesGoBackByteForByte) {
    // A outlives each process in a state file. It locks up once its first blocks are erased.
    const std::string alone = Describe("a.txt", Stick("sa", "AAA111", "STICK A"));
    const std::string locksUp = Describe("a-locks-up.txt", ReadFile(alone) + "hang-from 40\n");
    const std::string original = OriginalPages(alone);
    setenv("BREVANT_SIM_STATE", Path("a.state").c_str(), 1);
    Finished format = RunBrevant({"format", "--yes", "--simulate", locksUp, "--report",
                                  Path("report.json"), "--log", Path("run.log")},
                                 InDir());
    ASSERT_EQ(format.exitCode, kExitFailed) << format.output;
    ASSERT_EQ(Backups().size(), 1u);
    const std::string backup = Backups()[0];
    // The command as it is to be typed: the machine, the stick and the file.
    const std::string command =
        "brevant restore-cis --simulate " + locksUp + " --device sim:sa " + backup;
    EXPECT_NE(format.output.find("They are kept in " + backup +
                                 ".\nPut them back with: " + command + "\n"),
              std::string::npos)
        << format.output;
    const auto report = nlohmann::json::parse(ReadFile(Path("report.json")));
    EXPECT_EQ(report["result"], "unresponsive");
    EXPECT_EQ(report["cis"]["old_cis_page_fate"], "lost");
    EXPECT_EQ(report["cis"]["backup_file"], backup);
    EXPECT_EQ(report["cis"]["restore_command"], command);
    EXPECT_NE(ReadFile(Path("run.log")).find(command + "\n"), std::string::npos);
    std::string error;
    auto after = sim::SimBus::Load(alone, &error);
    ASSERT_TRUE(after) << error;
    ASSERT_TRUE(sim::LoadDiskState(*after->FlashDisk(0), Path("a.state"), &error)) << error;
    ASSERT_EQ(after->FlashDisk(0)->CisPageNumber(), sim::kNoPage);

    Finished restored = RunBrevant(
        {"restore-cis", backup, "--yes", "--simulate", alone, "--export-pages", Path("a.bin")},
        InDir());
    EXPECT_EQ(restored.exitCode, kExitComplete) << restored.output;
    EXPECT_NE(restored.output.find("back on sim:sa"), std::string::npos) << restored.output;
    EXPECT_EQ(FirstTwoPages(ReadFile(Path("a.bin"))), original);
}

// The file written by the first version is still read: it names the kind of flash and the
// stick's name only, which is said; and the texts a file holds reach the screen with their
// control bytes escaped.
TEST_F(Restore, AnOlderFileIsStillReadAndAFilesTextsAreShownEscaped) {
    const std::string fileOfA = PagesOfA();
    ASSERT_FALSE(fileOfA.empty());
    const std::string text = ReadFile(fileOfA);
    ASSERT_NE(text.find("cis-page"), std::string::npos);
    const std::string older =
        std::string("BREVANT CIS BACKUP 1\n") + "device \x1b]0;owned\x07sim:sa\n" +
        "identity BREVSIM USB Flash Disk 1.00\n" + "saved 2026-12-08\x1b[2J\n" +
        "bank0 device-code=0x73 pages-per-block=32\n" + text.substr(text.find("cis-page"));
    WriteFile(Path("older.cis"), older);
    // Onto B, whose vendor page is another: an older file cannot tell the two apart.
    Finished restored = RunBrevant({"restore-cis", Path("older.cis"), "--yes", "-d", "sim:sb",
                                    "--simulate", both_, "--export-pages", Path("b.bin")},
                                   InDir());
    EXPECT_EQ(restored.exitCode, kExitComplete) << restored.output;
    EXPECT_NE(restored.output.find("was written by an older version and does not say which "
                                   "stick its pages came from"),
              std::string::npos)
        << restored.output;
    EXPECT_EQ(restored.output.find('\x1b'), std::string::npos) << restored.output;
    EXPECT_NE(restored.output.find("saved \"2026-12-08\\x1B[2J\" from "
                                   "\"\\x1B]0;owned\\x07sim:sa\""),
              std::string::npos)
        << restored.output;
    EXPECT_EQ(FirstTwoPages(ReadFile(Path("b.bin"))), OriginalPages(both_, 0));
    // A stick of another name is refused.
    const std::string other = Describe("other.txt",
                                       "reader\nunit DS node=sc name=\"OTHER\"\n"
                                       "banks 73\ncis page=0\n");
    Finished named =
        RunBrevant({"restore-cis", Path("older.cis"), "--yes", "--simulate", other}, InDir());
    EXPECT_EQ(named.exitCode, kExitNoDisk) << named.output;
    EXPECT_NE(named.output.find("(they differ in name)"), std::string::npos) << named.output;
}

}  // namespace
