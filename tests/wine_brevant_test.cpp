// Brevant.exe end to end under Wine: the dialog against the simulated reader of WNASPI32.DLL,
// driven from outside like a user would, with what the run left on the simulated stick checked
// afterwards.

#include <sys/wait.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/wine/wine_session.h"

namespace winetest {
namespace {

const char kTitle[] = "Brevant Utility";

// Controls of the main dialog.
constexpr int kStatus = 1000;
constexpr int kExit = 2;
constexpr int kProgress = 1012;
constexpr int kStartStop = 1013;
constexpr int kQuick = 1017;
constexpr int kFull = 1018;
constexpr int kPercent = 1019;
constexpr int kOk = 1;
constexpr int kCancel = 2;

constexpr std::size_t kPageBytes = 528;

const char kConfirmText[] =
    "All the data will be erased!\nMake sure you already do the backup.\n\nWould you like to "
    "continue ?";
const char kCompleteText[] =
    "Format is complete. Before you can use your device properly you must plug it out then plug "
    "in again.\n";
const char kRunningText[] =
    "Formatting the disk... Please wait and do not access the disk through My Computer or "
    "Windows Explorer. Or you can click Stop to cancel.";
const char kReadyAdvice[] = "Click \"Start\" to start formatting";

// A one-bank disk of 73h (1024 blocks of 32 pages), formatted once, with its vendor page.
const char kSmallDisk[] =
    "reader adapter=0 target=0\n"
    "unit DS drive=E\n"
    "banks 73\n"
    "cis page=0\n"
    "vendor-page text=\"E2E VENDOR PAGE\"\n";

const char kLogOn[] = "[Setting]\nGenerateLog=1\n";

class WineBrevantTest : public WineTest {
  protected:
    void SetUp() override {
        WineTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(HaveBuildFile("Brevant.exe")) << "Brevant.exe is not in " << Win32Dir();
    }

    // Puts the program, the simulator and its disk description (and a settings file when one is
    // given) into the test folder.
    void PrepareFolder(const std::string& description, const std::string& settings = "") {
        ASSERT_TRUE(CopyFromBuild("Brevant.exe"));
        ASSERT_TRUE(CopyFromBuild("WNASPI32.DLL"));
        WriteFile("brevant-sim.txt", description);
        if (!settings.empty()) WriteFile("Brevant.ini", settings);
    }

    // Starts the program and waits for its dialog.
    ChildProcess* StartBrevant(const EnvList& env = {}) {
        ChildProcess* program = Run("Brevant.exe", {}, env);
        if (program == nullptr) return nullptr;
        std::string seen = Drive({"wait", kTitle, "30000"});
        EXPECT_EQ(seen, "ok") << "the dialog did not come up; " << ReadFile("out/error.txt");
        return seen == "ok" ? program : nullptr;
    }

    // Leaves through the Exit button and waits for the process to end, so that the simulator
    // has written its output folder.
    void ExitBrevant(ChildProcess* program) {
        ASSERT_EQ(Drive({"click", kTitle, std::to_string(kExit)}), "ok");
        EXPECT_EQ(Drive({"gone", kTitle, "20000"}), "ok");
        int status = 0;
        ASSERT_TRUE(program->Wait(30000, &status)) << "Brevant.exe did not end after Exit";
        EXPECT_TRUE(WIFEXITED(status)) << "status " << status;
    }

    std::string Text(int id) {
        std::string reply = Drive({"text", kTitle, std::to_string(id)});
        return reply.rfind("ok ", 0) == 0 ? reply.substr(3) : "<" + reply + ">";
    }
    // "<enabled> <checked>", e.g. "1 0".
    std::string State(int id) {
        std::string reply = Drive({"state", kTitle, std::to_string(id)});
        return reply.rfind("ok ", 0) == 0 ? reply.substr(3) : "<" + reply + ">";
    }
    // Waits (a click is posted, so it lands a little later) until the state is the expected one.
    std::string StateBecomes(int id, const std::string& expected, int timeoutMs = 10000) {
        std::string state = State(id);
        for (int waited = 0; state != expected && waited < timeoutMs; waited += 50) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            state = State(id);
        }
        return state;
    }
    std::string Status() { return Text(kStatus); }
    // Waits until the status text starts with the (unescaped) prefix.
    std::string StatusStartingWith(const std::string& prefix, int timeoutMs = 20000) {
        return WaitForText(kTitle, kStatus, DriverEscaped(prefix), timeoutMs);
    }

    // Presses Start and answers the confirmation box.
    void StartFormat(int answer) {
        ASSERT_EQ(Drive({"click", kTitle, std::to_string(kStartStop)}), "ok");
        ASSERT_EQ(Drive({"box", kTitle, "10000"}), "ok " + DriverEscaped(kConfirmText) + "\t1,2");
        ASSERT_EQ(Drive({"answer", kTitle, std::to_string(answer)}), "ok");
    }

    // Waits for the box that ends a complete run, checks it and presses OK.
    void AcceptCompleteBox(int timeoutMs) {
        ASSERT_EQ(Drive({"box", kTitle, std::to_string(timeoutMs)}, timeoutMs + 5000),
                  "ok " + DriverEscaped(kCompleteText) + "\t1");
        ASSERT_EQ(Drive({"answer", kTitle, std::to_string(kOk)}), "ok");
    }

    std::string Page(const std::string& pages, std::uint32_t page) const {
        if (pages.size() < (page + 1) * kPageBytes) return "";
        return pages.substr(page * kPageBytes, kPageBytes);
    }

    // The opcodes the simulator saw, in order, for lines starting with `device`.
    std::vector<std::string> Opcodes(const std::string& device, const std::string& out = "out") {
        std::vector<std::string> opcodes;
        for (const std::string& line : SimTrace(out)) {
            if (line.rfind(device, 0) != 0) continue;
            std::string::size_type colon = line.find(": ");
            if (colon != std::string::npos) opcodes.push_back(line.substr(colon + 2, 2));
        }
        return opcodes;
    }

    bool FileExists(const std::string& name) const {
        return std::filesystem::exists(Folder() + "/" + name);
    }
};

// The status line of a finished run: the run's message and result text, then the elapsed time.
std::regex FinalStatus(const std::string& head) {
    return std::regex(
        std::regex_replace(DriverEscaped(head), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
        R"(Time elapsed \d\d:\d\d:\d\d\.)");
}

TEST_F(WineBrevantTest, NoReaderLeavesEverythingDisabled) {
    PrepareFolder(
        "foreign drive=C adapter=0 target=0 name=\"System Disk\"\n"
        "foreign drive=D adapter=0 target=1 name=\"DVD-ROM Drive\"\n");
    ChildProcess* program = StartBrevant();
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(Status(), "No USB disk found ! Please plug in the device.");
    EXPECT_EQ(State(kStartStop), "0 0");
    EXPECT_EQ(State(kQuick), "0 1");
    EXPECT_EQ(State(kFull), "0 0");
    EXPECT_EQ(State(kExit), "1 0");
    EXPECT_EQ(Text(kStartStop), "Start");
    EXPECT_EQ(Drive({"click", kTitle, std::to_string(kStartStop)}), "err disabled");
    SaveScreenshot("brevant-no-reader");
    ExitBrevant(program);
    // Drives that do not identify as the reader are asked who they are and nothing else.
    std::vector<std::string> foreign = Opcodes("foreign");
    EXPECT_FALSE(foreign.empty());
    for (const std::string& opcode : foreign) EXPECT_EQ(opcode, "12");
}

// A reader that offers only card slots: its units are counted, so the no-disk text is not
// shown, but nothing is probed and nothing can be started.
TEST_F(WineBrevantTest, CardSlotsOnlyAreCountedButNotOffered) {
    PrepareFolder(
        "reader adapter=0 target=2\n"
        "unit CF drive=E card=yes\n"
        "unit SM drive=F\n"
        "unit MM drive=G\n");
    ChildProcess* program = StartBrevant();
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(Status(), "");
    EXPECT_EQ(State(kStartStop), "0 0");
    EXPECT_EQ(State(kQuick), "0 1");
    EXPECT_EQ(State(kFull), "0 0");
    ExitBrevant(program);
    for (const std::string& opcode : Opcodes("reader")) EXPECT_EQ(opcode, "12");
}

TEST_F(WineBrevantTest, ReadyDiskShowsItsCapacityAndAnswersTheInstanceQuery) {
    PrepareFolder(std::string(kSmallDisk) + "logical sectors=128000\n");
    ChildProcess* program = StartBrevant();
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(Status(), DriverEscaped(std::string("62.5 MB  128000 sectors\n") + kReadyAdvice));
    EXPECT_EQ(State(kStartStop), "1 0");
    EXPECT_EQ(State(kQuick), "1 1");
    EXPECT_EQ(State(kFull), "1 0");
    EXPECT_EQ(State(kExit), "1 0");
    EXPECT_EQ(Text(kPercent), "");
    EXPECT_EQ(Drive({"progress", kTitle, std::to_string(kProgress)}), "ok 0");
    EXPECT_EQ(Drive({"send", kTitle, "1481", "0", "0", "5000"}), "ok 42726576");
    SaveScreenshot("brevant-ready");

    // A system command 16 to 31 opens the About box (the system menu offers no entry for it).
    ASSERT_EQ(Drive({"post", kTitle, "0x112", "0x13", "0"}), "ok");
    std::string about = Drive({"box", "About Brevant", "10000"});
    EXPECT_EQ(about.rfind("ok ", 0), 0u) << about;
    EXPECT_EQ(about.substr(about.size() - 2), "\t1") << "the About box has one OK button";
    EXPECT_EQ(Drive({"answer", "About Brevant", "1"}), "ok");

    // The radio buttons switch the mode and keep each other exclusive.
    ASSERT_EQ(Drive({"click", kTitle, std::to_string(kFull)}), "ok");
    EXPECT_EQ(StateBecomes(kFull, "1 1"), "1 1");
    EXPECT_EQ(WaitForText(kTitle, kStatus, "62.5"),
              DriverEscaped(std::string("62.5 MB  128000 sectors\n") + kReadyAdvice));
    EXPECT_EQ(State(kQuick), "1 0");

    // Cancel in the confirmation box changes nothing.
    StartFormat(kCancel);
    EXPECT_EQ(Text(kStartStop), "Start");
    EXPECT_EQ(State(kExit), "1 0");
    EXPECT_EQ(State(kFull), "1 1");
    ExitBrevant(program);
    EXPECT_EQ(SimSummary("erase-count"), "0");
    // No settings file: no log either.
    EXPECT_FALSE(FileExists("brevant.log"));
}

TEST_F(WineBrevantTest, WriteProtectedDiskCannotBeStarted) {
    PrepareFolder(std::string(kSmallDisk) + "write-protected\n", kLogOn);
    ChildProcess* program = StartBrevant();
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(Status(), DriverEscaped("15.6 MB  32000 sectors\nMedia is write-protected !"));
    EXPECT_EQ(State(kStartStop), "0 0");
    EXPECT_EQ(State(kQuick), "0 1");
    EXPECT_EQ(State(kFull), "0 0");
    EXPECT_EQ(State(kExit), "1 0");
    SaveScreenshot("brevant-write-protected");
    ExitBrevant(program);
    // Logging on but no run: the log exists and is empty.
    ASSERT_TRUE(FileExists("brevant.log"));
    EXPECT_EQ(ReadFile("brevant.log"), "");
}

TEST_F(WineBrevantTest, QuickFormatEndsWithTheReplugBoxAndAFreshVolume) {
    PrepareFolder(std::string(kSmallDisk) + "bad 0:5\nerase-fails 0:9\n", kLogOn);
    // The stick is kept in a state file, so that the next start sees what this run left.
    const EnvList state = {{"BREVANT_SIM_STATE", WindowsPath(Folder() + "/stick.state")}};
    ChildProcess* program = StartBrevant(state);
    ASSERT_NE(program, nullptr);
    StartFormat(kOk);
    AcceptCompleteBox(120000);
    std::string status = StatusStartingWith(std::string(kCompleteText) + "Time elapsed");
    EXPECT_TRUE(std::regex_match(status, FinalStatus(kCompleteText))) << status;
    EXPECT_EQ(Text(kStartStop), "Start");
    EXPECT_EQ(State(kStartStop), "0 0");
    EXPECT_EQ(State(kQuick), "0 1");
    EXPECT_EQ(State(kFull), "0 0");
    EXPECT_EQ(State(kExit), "1 0");
    EXPECT_EQ(Text(kPercent), "100%");
    EXPECT_EQ(Drive({"progress", kTitle, std::to_string(kProgress)}), "ok 100");
    SaveScreenshot("brevant-quick-done");
    ExitBrevant(program);

    EXPECT_EQ(ReadFile("brevant.log"),
              "Start formatting DISK\n"
              "Old CIS page no = 0\n"
              "Old vendor page no = 1\n"
              "Bank No = 0\n"
              "Bad blk: 5\n"
              "Erase fail at 9\n"
              "CIS page = 0\n"
              "Total bad blocks = 2\n"
              "Total unable_to_mark_bad blocks = 0\n"
              "End formatting DISK\n");
    // The stick: told to stop, the failed block marked, a new CIS page with the vendor page
    // behind it, and a volume of the size the CIS page gives.
    EXPECT_EQ(SimSummary("stopped"), "1");
    EXPECT_EQ(SimSummary("vendor-c4-count"), "1");
    EXPECT_EQ(SimSummary("mark-bad-count"), "1");
    EXPECT_EQ(SimSummary("bad-blocks-0"), "2");
    EXPECT_EQ(SimSummary("erase-count"), "1023");
    EXPECT_EQ(SimSummary("cis-page"), "0");
    // Group 0 offers its first 255 blocks less the two bad ones and the CIS block, less 3; the
    // other three groups offer 250 each; 32 sectors per block.
    EXPECT_EQ(SimSummary("sectors"), std::to_string((252 - 3 + 3 * 250) * 32));
    EXPECT_EQ(SimSummary("cis-sectors"), SimSummary("sectors"));
    std::string pages = ReadFile("out/bank0.pages");
    EXPECT_EQ(Page(pages, 0).substr(0, 4), "USBC");
    EXPECT_EQ(Page(pages, 1).substr(0, 4 + 15), "USBCE2E VENDOR PAGE");
    std::string image = ReadFile("out/disk.img");
    ASSERT_GE(image.size(), 512u);
    EXPECT_EQ(static_cast<unsigned char>(image[510]), 0x55);
    EXPECT_EQ(static_cast<unsigned char>(image[511]), 0xAA);
    EXPECT_EQ(image.substr(54, 5), "FAT12") << "a 15.6 MB volume has 12-bit FAT entries";
    std::string check = "PATH=\"$PATH:/usr/sbin:/sbin\" fsck.fat -n '" + Folder() +
                        "/out/disk.img' > '" + Folder() + "/fsck.txt' 2>&1";
    EXPECT_EQ(std::system(check.c_str()), 0) << ReadFile("fsck.txt");

    // Plugged in again (a new start over the kept stick): the new capacity is shown.
    ChildProcess* again = StartBrevant(state);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(Status(), DriverEscaped("15.6 MB  31968 sectors\n" + std::string(kReadyAdvice)));
    EXPECT_EQ(State(kStartStop), "1 0");
    ExitBrevant(again);
}

TEST_F(WineBrevantTest, FullFormatFindsWeakCellsAndEndsWithTheReplugBox) {
    PrepareFolder(std::string(kSmallDisk) + "stuck 0:7\n", kLogOn);
    ChildProcess* program = StartBrevant();
    ASSERT_NE(program, nullptr);
    ASSERT_EQ(Drive({"click", kTitle, std::to_string(kFull)}), "ok");
    ASSERT_EQ(StateBecomes(kFull, "1 1"), "1 1");
    StartFormat(kOk);
    AcceptCompleteBox(300000);
    std::string status = StatusStartingWith(std::string(kCompleteText) + "Time elapsed");
    EXPECT_TRUE(std::regex_match(status, FinalStatus(kCompleteText))) << status;
    EXPECT_EQ(State(kStartStop), "0 0");
    EXPECT_EQ(State(kExit), "1 0");
    SaveScreenshot("brevant-full-done");
    ExitBrevant(program);

    EXPECT_EQ(ReadFile("brevant.log"),
              "Start formatting DISK\n"
              "Old CIS page no = 0\n"
              "Old vendor page no = 1\n"
              "Bank No = 0\n"
              "0x55 pattern fail at 7\n"
              "CIS page = 0\n"
              "Total bad blocks = 1\n"
              "Total unable_to_mark_bad blocks = 0\n"
              "End formatting DISK\n");
    EXPECT_EQ(SimSummary("stopped"), "1");
    EXPECT_EQ(SimSummary("bad-blocks-0"), "1");
    EXPECT_EQ(SimSummary("cis-sectors"), SimSummary("sectors"));
}

// Stop mid-run: the old CIS page and vendor page are put back as they were, no volume is
// written, and the dialog can run again at once; the log then holds both runs in order.
TEST_F(WineBrevantTest, StopDuringARunRestoresTheOldCisPage) {
    const std::string disk = std::string(kSmallDisk) + "latency us=4000\n";
    PrepareFolder(disk, kLogOn);
    std::filesystem::create_directories(Folder() + "/control");

    // The pages as the stick carries them before any run.
    ChildProcess* first = StartBrevant({{"BREVANT_SIM_OUT", WindowsPath(Folder() + "/before")}});
    ASSERT_NE(first, nullptr);
    ExitBrevant(first);
    std::string before = ReadFile("before/bank0.pages");
    ASSERT_EQ(Page(before, 0).substr(0, 4), "USBC");

    ChildProcess* program =
        StartBrevant({{"BREVANT_SIM_CONTROL", WindowsPath(Folder() + "/control")}});
    ASSERT_NE(program, nullptr);
    StartFormat(kOk);
    // Running: only Stop can be pressed.
    EXPECT_EQ(StatusStartingWith(kRunningText), DriverEscaped(kRunningText));
    EXPECT_EQ(Text(kStartStop), "Stop");
    EXPECT_EQ(State(kStartStop), "1 0");
    EXPECT_EQ(State(kExit), "0 0");
    EXPECT_EQ(State(kQuick), "0 1");
    EXPECT_EQ(State(kFull), "0 0");
    // The first progress tick comes after two seconds.
    std::string percent = Text(kPercent);
    for (int i = 0; i < 100 && (percent.empty() || percent.back() != '%'); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        percent = Text(kPercent);
    }
    ASSERT_FALSE(percent.empty()) << "no progress tick within ten seconds";
    EXPECT_NE(percent, "100%") << "the run ended before Stop could be pressed";
    SaveScreenshot("brevant-running");
    ASSERT_EQ(Drive({"click", kTitle, std::to_string(kStartStop)}), "ok");

    std::string status = StatusStartingWith("Format was canceled.");
    EXPECT_TRUE(std::regex_match(status, FinalStatus("Format was canceled."))) << status;
    EXPECT_EQ(Text(kStartStop), "Start");
    EXPECT_EQ(State(kStartStop), "1 0");
    EXPECT_EQ(State(kQuick), "1 1");
    EXPECT_EQ(State(kFull), "1 0");
    EXPECT_EQ(State(kExit), "1 0");
    EXPECT_EQ(Drive({"box", kTitle, "500"}), "err timeout") << "a stopped run shows no box";

    // The stick as the stop left it: a device-tree notice makes the program check that the
    // stick is still there, and that command has the simulator write its output first.
    WriteFile("control/dump", "");
    ASSERT_EQ(Drive({"devicechange", kTitle, "7", "10000"}), "ok");
    ASSERT_EQ(Drive({"devicechange", kTitle, "0x8004", "10000"}), "ok");
    for (int i = 0; i < 100 && std::filesystem::exists(Folder() + "/control/dump"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_FALSE(std::filesystem::exists(Folder() + "/control/dump")) << "no output written";
    std::string stopped = ReadFile("out/bank0.pages");
    EXPECT_EQ(Page(stopped, 0), Page(before, 0)) << "the old CIS page was not put back";
    EXPECT_EQ(Page(stopped, 1), Page(before, 1)) << "the old vendor page was not put back";
    EXPECT_EQ(SimSummary("vendor-c4-count"), "0");
    int erased = std::stoi(SimSummary("erase-count"));
    EXPECT_GT(erased, 0);
    EXPECT_LT(erased, 1024);
    EXPECT_EQ(Status(), DriverEscaped(status)) << "the notice must not have rescanned";

    // A second run straight away, this time to the end.
    StartFormat(kOk);
    AcceptCompleteBox(120000);
    status = StatusStartingWith(kCompleteText);
    EXPECT_TRUE(std::regex_match(status, FinalStatus(kCompleteText))) << status;
    ExitBrevant(program);

    std::string log = ReadFile("brevant.log");
    const std::string firstRun =
        "Start formatting DISK\n"
        "Old CIS page no = 0\n"
        "Old vendor page no = 1\n"
        "Bank No = 0\n"
        "User stop\n"
        "Save old CIS/Vendor page if exist\n"
        "End formatting DISK\n";
    // The second run finds the pages the first one put back.
    const std::string secondRun =
        "Start formatting DISK\n"
        "Old CIS page no = 0\n"
        "Old vendor page no = 1\n"
        "Bank No = 0\n"
        "CIS page = 0\n"
        "Total bad blocks = 0\n"
        "Total unable_to_mark_bad blocks = 0\n"
        "End formatting DISK\n";
    EXPECT_EQ(log, firstRun + secondRun);
    EXPECT_EQ(SimSummary("vendor-c4-count"), "1");
    EXPECT_EQ(SimSummary("stopped"), "1");
}

// The stick pulled during a run: the device-change notices empty the unit table, the run ends
// as cancelled and Start stays disabled until the stick is back.
TEST_F(WineBrevantTest, PullingTheStickDuringARunCancelsItUntilItIsBack) {
    PrepareFolder(std::string(kSmallDisk) + "latency us=4000\n", kLogOn);
    std::filesystem::create_directories(Folder() + "/control");
    ChildProcess* program =
        StartBrevant({{"BREVANT_SIM_CONTROL", WindowsPath(Folder() + "/control")}});
    ASSERT_NE(program, nullptr);
    StartFormat(kOk);
    ASSERT_EQ(StatusStartingWith(kRunningText), DriverEscaped(kRunningText));

    WriteFile("control/unplug", "");
    // The NT family's order: the device tree changed, then the removal is complete.
    ASSERT_EQ(Drive({"devicechange", kTitle, "7", "10000"}), "ok");
    ASSERT_EQ(Drive({"devicechange", kTitle, "0x8004", "10000"}), "ok");
    std::string status = StatusStartingWith("Format was canceled.");
    EXPECT_TRUE(std::regex_match(status, FinalStatus("Format was canceled."))) << status;
    EXPECT_EQ(Text(kStartStop), "Start");
    EXPECT_EQ(State(kStartStop), "0 0");
    EXPECT_EQ(State(kQuick), "1 1");
    EXPECT_EQ(State(kFull), "1 0");
    EXPECT_EQ(State(kExit), "1 0");
    EXPECT_EQ(Drive({"box", kTitle, "200"}), "err timeout");

    // Back in: the next arrival finds the disk and offers it again.
    WriteFile("control/replug", "");
    ASSERT_EQ(Drive({"devicechange", kTitle, "7", "10000"}), "ok");
    ASSERT_EQ(Drive({"devicechange", kTitle, "0x8000", "10000"}), "ok");
    EXPECT_EQ(StatusStartingWith("15.6 MB"),
              DriverEscaped("15.6 MB  32000 sectors\n" + std::string(kReadyAdvice)));
    EXPECT_EQ(State(kStartStop), "1 0");
    ExitBrevant(program);
    EXPECT_NE(ReadFile("brevant.log").find("User stop\n"), std::string::npos);
}

// A second copy finds the first by its title, is answered and ends without a window of its own,
// also while the first is in the middle of a run, which goes on undisturbed.
TEST_F(WineBrevantTest, SecondCopyHandsOverToTheFirst) {
    PrepareFolder(std::string(kSmallDisk) + "latency us=4000\n");
    ChildProcess* program = StartBrevant();
    ASSERT_NE(program, nullptr);
    ChildProcess* second =
        Run("Brevant.exe", {}, {{"BREVANT_SIM_OUT", WindowsPath(Folder() + "/second")}});
    ASSERT_NE(second, nullptr);
    int status = 0;
    ASSERT_TRUE(second->Wait(30000, &status)) << "the second copy did not end";
    EXPECT_EQ(Drive({"count", kTitle}), "ok 1");
    EXPECT_TRUE(program->Running());
    EXPECT_EQ(Drive({"send", kTitle, "1481", "0", "0", "5000"}), "ok 42726576");
    // The second copy never opened the reader.
    EXPECT_TRUE(ReadFile("second/trace.txt").empty());

    StartFormat(kOk);
    ASSERT_EQ(StatusStartingWith(kRunningText), DriverEscaped(kRunningText));
    ChildProcess* third =
        Run("Brevant.exe", {}, {{"BREVANT_SIM_OUT", WindowsPath(Folder() + "/third")}});
    ASSERT_NE(third, nullptr);
    ASSERT_TRUE(third->Wait(30000, &status)) << "the copy started during the run did not end";
    EXPECT_EQ(Drive({"count", kTitle}), "ok 1");
    EXPECT_EQ(Text(kStartStop), "Stop") << "the run was disturbed";
    EXPECT_EQ(Drive({"box", kTitle, "200"}), "err timeout");
    ASSERT_EQ(Drive({"click", kTitle, std::to_string(kStartStop)}), "ok");
    std::string stopped = StatusStartingWith("Format was canceled.");
    EXPECT_TRUE(std::regex_match(stopped, FinalStatus("Format was canceled."))) << stopped;
    ExitBrevant(program);
}

// Another program's window with the same title does not answer the query as the program
// would, so start-up goes on.
TEST_F(WineBrevantTest, ForeignWindowWithTheSameTitleDoesNotStopStartUp) {
    PrepareFolder(kSmallDisk);
    ASSERT_TRUE(CopyFromBuild("aspi_client.exe"));
    ChildProcess* foreign = Run("aspi_client.exe", {"window", kTitle},
                                {{"BREVANT_SIM_OUT", WindowsPath(Folder() + "/client")}});
    ASSERT_NE(foreign, nullptr);
    ASSERT_EQ(Drive({"wait", kTitle, "30000"}), "ok");
    // The client answers with its request count: INQUIRY, C2h, F7h and READ CAPACITY.
    ASSERT_EQ(Drive({"send", kTitle, "1481", "0", "0", "5000"}), "ok 4");
    ChildProcess* program = Run("Brevant.exe");
    ASSERT_NE(program, nullptr);
    std::string count;
    for (int i = 0; i < 300 && count != "ok 2"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        count = Drive({"count", kTitle});
    }
    EXPECT_EQ(count, "ok 2");
    EXPECT_TRUE(program->Running());
    EXPECT_TRUE(foreign->Running());
}

// A library that is there but reports no host adapter stops the start: no window, no command.
TEST_F(WineBrevantTest, UnusableAspiLibraryEndsTheProgramWithoutAWindow) {
    PrepareFolder(std::string("aspi adapters=0\n") + kSmallDisk);
    ChildProcess* program = Run("Brevant.exe");
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(program->Wait(30000)) << "the program should end by itself";
    EXPECT_EQ(Drive({"count", kTitle}), "ok 0");
    EXPECT_TRUE(SimTrace().empty());
}

// Without the library the program falls back to pass-through on the drive letters, where
// Wine's drives do not identify as the reader.
TEST_F(WineBrevantTest, WithoutTheLibraryPassThroughFindsNoReader) {
    PrepareFolder(std::string("aspi library=absent\n") + kSmallDisk);
    ChildProcess* program = StartBrevant();
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(Status(), "No USB disk found ! Please plug in the device.");
    EXPECT_EQ(State(kStartStop), "0 0");
    ExitBrevant(program);
}

}  // namespace
}  // namespace winetest
