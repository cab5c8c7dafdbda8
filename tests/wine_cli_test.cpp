// brevant-cli.exe end to end under Wine: the command line for Windows over the simulated reader
// of WNASPI32.DLL (ASPI, as on a machine with the library), judged by what the simulated stick
// received and holds afterwards, as the Linux command line's tests judge brevant.

#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/brevant_process.h"
#include "tests/report_schema.h"
#include "tests/wine/wine_session.h"

namespace winetest {
namespace {

constexpr std::size_t kPageBytes = 528;
constexpr int kRunMs = 120000;

// A one-bank disk of 73h (1024 blocks of 32 pages), formatted once, with its vendor page.
const char kSmallDisk[] =
    "reader adapter=0 target=0\n"
    "unit DS drive=E\n"
    "banks 73\n"
    "cis page=0\n"
    "vendor-page text=\"E2E VENDOR PAGE\"\n";
// Slow enough that a stop lands in the middle of the erases.
const char kSlowDisk[] = "latency us=2000\n";
// The first erase of a format: block 0, which holds the old CIS page.
const char kBlockZeroErased[] = ": F2 00 00 00 00 00 00 00 00 00 00 00 none 0 good";

class WineCliTest : public WineTest {
  protected:
    void SetUp() override {
        WineTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(HaveBuildFile("brevant-cli.exe")) << "brevant-cli.exe is not in " << Win32Dir();
    }

    void PrepareFolder(const std::string& description) {
        ASSERT_TRUE(CopyFromBuild("brevant-cli.exe"));
        ASSERT_TRUE(CopyFromBuild("WNASPI32.DLL"));
        WriteFile("brevant-sim.txt", description);
        std::filesystem::create_directories(Folder() + "/control");
    }

    // Runs brevant-cli.exe to its end with the simulator's output in `out`; its exit status.
    int Cli(const std::vector<std::string>& args, const std::string& out = "out",
            const EnvList& env = {}) {
        EnvList all = {{"BREVANT_SIM_OUT", WindowsPath(Folder() + "/" + out)}};
        all.insert(all.end(), env.begin(), env.end());
        ChildProcess* program = Run("brevant-cli.exe", args, all);
        if (program == nullptr) return -1;
        int status = 0;
        EXPECT_TRUE(program->Wait(kRunMs, &status)) << "brevant-cli.exe " << args[0] << " hangs";
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Output() const { return OutputOf("brevant-cli.exe"); }

    // Runs brevant-cli.exe under console_stop.exe on a pseudo-terminal (Wine gives a console to
    // a program on a terminal only, and console events need one), stopped `how` once the
    // simulator's trace shows the first erase; console_stop's exit status (the program's).
    int StoppedCli(const std::string& how, const std::vector<std::string>& args,
                   const std::string& out, const EnvList& env = {}) {
        if (!CopyFromBuild("console_stop.exe")) return -1;
        const std::string trace = Folder() + "/" + out + "-live.txt";
        std::string line = "wine console_stop.exe " + Quoted(WindowsPath(trace)) + " " +
                           Quoted(kBlockZeroErased) + " " + how + " " +
                           Quoted(WindowsPath(Folder() + "/control")) + " " +
                           Quoted(WindowsPath(Folder() + "/stopped.out")) + " brevant-cli.exe";
        for (const std::string& arg : args) line += " " + Quoted(arg);
        EnvList all = {{"BREVANT_SIM_OUT", WindowsPath(Folder() + "/" + out)},
                       {"BREVANT_SIM_TRACE_STREAM", WindowsPath(trace)},
                       {"BREVANT_SIM_CONTROL", WindowsPath(Folder() + "/control")}};
        all.insert(all.end(), env.begin(), env.end());
        ChildProcess program;
        std::string error;
        if (!program.Start({"script", "-qec", line, "/dev/null"}, Folder(),
                           WineSession::Instance().Environment(all), Folder() + "/console.out",
                           false, &error)) {
            ADD_FAILURE() << error;
            return -1;
        }
        int status = 0;
        EXPECT_TRUE(program.Wait(kRunMs, &status)) << "console_stop.exe hangs";
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string StoppedOutput() const {
        std::string text = ReadFile("stopped.out");
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }

    static std::string Quoted(const std::string& text) {
        std::string quoted = "'";
        for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return quoted + "'";
    }

    std::string Pages(const std::string& out, std::uint32_t first, std::uint32_t count) const {
        return ReadFile(out + "/bank0.pages").substr(first * kPageBytes, count * kPageBytes);
    }

    // The old pages' folder the tests name: the state folder is the Wine prefix's, shared by
    // every test of the process.
    std::string BackupFolder() const { return WindowsPath(Folder() + "/cis"); }

    // The history the prefix's user keeps (the state folder is the prefix's, not the test's).
    static std::string HistoryFile() {
        std::error_code none;
        const std::string users = WineSession::Instance().Root() + "/prefix/drive_c/users";
        for (const auto& user : std::filesystem::directory_iterator(users, none)) {
            const auto file = user.path() / "AppData/Local/Brevant/history.jsonl";
            if (std::filesystem::exists(file, none)) return file.string();
        }
        return std::string();
    }

    std::vector<std::string> Backups() const {
        std::vector<std::string> found;
        std::error_code none;
        for (const auto& entry : std::filesystem::directory_iterator(Folder() + "/cis", none)) {
            found.push_back(entry.path().string());
        }
        return found;
    }
};

TEST_F(WineCliTest, ListAndCheckSendOnlyReadingCommandsAndTellWhatIsThere) {
    PrepareFolder(std::string(kSmallDisk) + "bad 0:5\ndata 0:7\n");
    ASSERT_EQ(Cli({"list"}, "before"), 0) << Output();
    EXPECT_EQ(Output(),
              "0:0: USB flash disk, BREVSIM USB Flash Disk 1.00\n"
              "  size: 15.6 MiB (32000 sectors)\n"
              "  write-protected: not probed (--probe-write-protect to try a write)\n");

    ASSERT_EQ(Cli({"check", "--json"}), 0) << Output();
    const std::string text = Output();
    const auto json = nlohmann::json::parse(text.substr(text.find('{')), nullptr, false);
    ASSERT_TRUE(json.is_object()) << text;
    EXPECT_EQ(SchemaErrors(text.substr(text.find('{'))), "");
    EXPECT_EQ(json["command"], "check");
    EXPECT_EQ(json["device"]["node"], "0:0");
    EXPECT_EQ(json["banks"][0]["device_code"], "0x73");
    EXPECT_EQ(json["banks"][0]["bad_blocks"][0]["block"], 5);
    EXPECT_EQ(json["banks"][0]["blocks_holding_data"], 2) << "block 0 (the CIS page's) and 7";
    EXPECT_EQ(json["cis"]["page"], 0);
    EXPECT_EQ(json["cis"]["vendor_page"], true);
    // The stick received reading commands only, and its pages are as they were.
    int commands = 0;
    for (const std::string& line : SimTrace()) {
        ++commands;
        EXPECT_TRUE(brevant_test::IsReadingCommand(line)) << line;
    }
    EXPECT_GT(commands, 1000) << "every block's spare bytes are read";
    EXPECT_EQ(ReadFile("out/bank0.pages"), ReadFile("before/bank0.pages"));
}

TEST_F(WineCliTest, FullFormatFindsAWeakBlockAndReportsIt) {
    PrepareFolder(std::string(kSmallDisk) + "stuck 0:7\n");
    ASSERT_EQ(
        Cli({"format", "--full", "--yes", "--report", "full.json", "--backup-dir", BackupFolder()}),
        0)
        << Output();
    const std::string report = ReadFile("full.json");
    EXPECT_EQ(SchemaErrors(report), "");
    const auto json = nlohmann::json::parse(report, nullptr, false);
    ASSERT_TRUE(json.is_object()) << report;
    EXPECT_EQ(json["mode"], "full");
    EXPECT_EQ(json["result"], "complete");
    ASSERT_EQ(json["banks"][0]["bad_blocks"].size(), 1u) << report;
    EXPECT_EQ(json["banks"][0]["bad_blocks"][0]["block"], 7);
    EXPECT_EQ(json["banks"][0]["bad_blocks"][0]["reason"], "pattern-0x55");
    // The stick: the weak block marked bad, a new CIS page.
    EXPECT_EQ(SimSummary("bad-blocks-0"), "1");
    EXPECT_EQ(SimSummary("cis-page"), "0");
}

TEST_F(WineCliTest, QuickFormatWithAReportAsTheSimulatorSawIt) {
    PrepareFolder(std::string(kSmallDisk) + "bad 0:5\nerase-fails 0:9\n");
    ASSERT_EQ(Cli({"list"}, "before"), 0) << Output();
    ASSERT_EQ(Cli({"format", "--yes", "--report", "report.json", "--backup-dir", BackupFolder()}),
              0)
        << Output();
    EXPECT_NE(Output().find("Result: complete"), std::string::npos) << Output();
    // Written to a file, the progress comes as plain lines.
    EXPECT_NE(Output().find("\nprogress: 100%  1024/1024 blocks"), std::string::npos) << Output();

    const std::string report = ReadFile("report.json");
    EXPECT_EQ(SchemaErrors(report), "");
    const auto json = nlohmann::json::parse(report, nullptr, false);
    ASSERT_TRUE(json.is_object()) << report;
    EXPECT_EQ(json["result"], "complete");
    EXPECT_EQ(json["mode"], "quick");
    EXPECT_EQ(json["exit_code"], 0);
    EXPECT_EQ(json["cis"]["old_cis_page"], 0);
    EXPECT_EQ(json["cis"]["old_vendor_page"], 1);
    std::vector<int> bad;
    for (const auto& block : json["banks"][0]["bad_blocks"]) bad.push_back(block["block"]);
    EXPECT_EQ(bad, (std::vector<int>{5, 9}));
    // The stick: every good block but the CIS page's erased once, the failed one marked, a new
    // CIS page with the vendor page behind it, and a volume of the size the CIS page gives.
    EXPECT_EQ(SimSummary("erase-count"), "1023");
    EXPECT_EQ(SimSummary("mark-bad-count"), "1");
    EXPECT_EQ(SimSummary("bad-blocks-0"), "2");
    EXPECT_EQ(SimSummary("cis-page"), "0");
    EXPECT_EQ(SimSummary("sectors"), std::to_string((252 - 3 + 3 * 250) * 32));
    EXPECT_EQ(SimSummary("cis-sectors"), SimSummary("sectors"));
    EXPECT_EQ(json["capacity_after_sectors"].dump(), SimSummary("sectors"));
    EXPECT_EQ(Pages("out", 1, 1).substr(0, 4 + 15), "USBCE2E VENDOR PAGE");
    const std::string check = "PATH=\"$PATH:/usr/sbin:/sbin\" fsck.fat -n '" + Folder() +
                              "/out/disk.img' > '" + Folder() + "/fsck.txt' 2>&1";
    EXPECT_EQ(std::system(check.c_str()), 0) << ReadFile("fsck.txt");
    // The old pages were kept in the state folder before anything was erased.
    ASSERT_EQ(Backups().size(), 1u);
    EXPECT_NE(Output().find(BackupFolder() + "\\0_0-"), std::string::npos) << Output();

    // The run is in the history, and the next look at the stick knows it.
    ASSERT_EQ(Cli({"history", "--json"}), 0) << Output();
    const std::string history = Output();
    ASSERT_NE(history.find_first_of("[{"), std::string::npos) << history;
    EXPECT_EQ(
        SchemaErrors(history.substr(history.find_first_of("[{")), "cli/output/history.schema.json"),
        "");
    EXPECT_NE(history.find("\"format\""), std::string::npos) << history;
    // A run cut off while it was adding its line leaves half a line: it is passed over, and the
    // next run starts a line of its own.
    const std::string historyFile = HistoryFile();
    ASSERT_FALSE(historyFile.empty()) << "no history.jsonl in the Wine prefix";
    std::ofstream(historyFile, std::ios::app)
        << "{\"v\":1,\"id\":99999,\"stick\":\"0:0\",\"whole\"";
    ASSERT_EQ(Cli({"check"}, "again"), 0) << Output();
    EXPECT_NE(Output().find("Previous run: 2 bad blocks (format, "), std::string::npos) << Output();
    EXPECT_EQ(Output().find("warning"), std::string::npos) << Output();
    ASSERT_EQ(Cli({"history", "--json"}), 0) << Output();
    const auto runs = nlohmann::json::parse(Output(), nullptr, false);
    ASSERT_TRUE(runs.is_object() || runs.is_array()) << Output();
    EXPECT_EQ(Output().find("99999"), std::string::npos);
    EXPECT_NE(Output().find("\"check\""), std::string::npos);
}

// Ctrl-Break takes the same way through the console control handler; Wine 8 sends no
// CTRL_BREAK_EVENT through GenerateConsoleCtrlEvent, so only Ctrl-C is tried here.
TEST_F(WineCliTest, CtrlCDuringAFormatPutsTheOldPagesBack) {
    PrepareFolder(std::string(kSmallDisk) + kSlowDisk);
    ASSERT_EQ(Cli({"list"}, "before"), 0) << Output();
    const std::string before = Pages("before", 0, 2);
    ASSERT_EQ(before.substr(0, 4), "USBC");

    EXPECT_EQ(
        StoppedCli("ctrl-c",
                   {"format", "--yes", "--report", "stopped.json", "--backup-dir", BackupFolder()},
                   "stopped"),
        3)
        << StoppedOutput();
    EXPECT_NE(StoppedOutput().find("Stopping at the next block..."), std::string::npos)
        << StoppedOutput();
    EXPECT_EQ(Pages("stopped", 0, 2), before) << "the old CIS and vendor pages are not back";
    const int erased = std::atoi(SimSummary("erase-count", "stopped").c_str());
    EXPECT_GT(erased, 0);
    EXPECT_LT(erased, 1023);
    const std::string report = ReadFile("stopped.json");
    EXPECT_EQ(SchemaErrors(report), "");
    const auto json = nlohmann::json::parse(report, nullptr, false);
    ASSERT_TRUE(json.is_object()) << report;
    EXPECT_EQ(json["result"], "cancelled");
    EXPECT_EQ(json["cis"]["old_cis_page_fate"], "restored");
}

TEST_F(WineCliTest, AKilledFormatIsUndoneByRestoreCisFromTheBackupFile) {
    PrepareFolder(std::string(kSmallDisk) + kSlowDisk);
    const EnvList state = {{"BREVANT_SIM_STATE", WindowsPath(Folder() + "/stick.state")}};
    ASSERT_EQ(Cli({"list"}, "before", state), 0) << Output();
    const std::string before = Pages("before", 0, 2);

    // Killed outright once the stick's state holds its old CIS page's block erased.
    EXPECT_EQ(
        StoppedCli("kill", {"format", "--yes", "--backup-dir", BackupFolder()}, "killed", state),
        137)
        << StoppedOutput();
    ASSERT_EQ(Cli({"list"}, "after-kill", state), 0) << Output();
    EXPECT_EQ(SimSummary("cis-page", "after-kill"), "none");
    EXPECT_NE(Pages("after-kill", 0, 2), before);
    ASSERT_EQ(Backups().size(), 1u);
    const std::string backup = WindowsPath(Backups()[0]);

    ASSERT_EQ(Cli({"restore-cis", backup, "--yes"}, "restored", state), 0) << Output();
    EXPECT_NE(Output().find("The old CIS page and vendor page are back on 0:0."), std::string::npos)
        << Output();
    EXPECT_EQ(Pages("restored", 0, 2), before);
    // Once back, a second restore changes nothing.
    ASSERT_EQ(Cli({"restore-cis", backup, "--yes"}, "again", state), 0) << Output();
    EXPECT_NE(Output().find("already in place"), std::string::npos) << Output();
}

TEST_F(WineCliTest, ExitStatusesAsDocumented) {
    PrepareFolder(kSmallDisk);
    EXPECT_EQ(Cli({"format", "--bogus"}), 2);
    EXPECT_NE(Output().find("try 'brevant-cli --help'"), std::string::npos) << Output();
    // No terminal to confirm on, and no --yes: the reader is not even looked for.
    EXPECT_EQ(Cli({"format"}), 2);
    EXPECT_FALSE(std::filesystem::exists(Folder() + "/out/trace.txt"));
    // A report file is for one stick; a station gets a report of each with --report-dir.
    EXPECT_EQ(Cli({"format", "--all", "--yes", "--report", "r.json"}), 2);
    EXPECT_NE(Output().find("--report-dir DIR gets a report of each"), std::string::npos)
        << Output();
    EXPECT_EQ(Cli({"check", "--device", "F:"}), 4);
    EXPECT_EQ(Cli({"--help"}), 0);
    EXPECT_NE(Output().find("On Windows: nodes are drive letters (E:)"), std::string::npos);

    // Without the library the SCSI pass-through requests go to the drive letters, where there
    // is no reader.
    std::filesystem::remove(Folder() + "/WNASPI32.DLL");
    EXPECT_EQ(Cli({"list"}), 4);
}

// One static console program: what it imports is Windows' own.
TEST(WineCliBuild, ImportsOnlyTheSystemLibraries) {
    const char* dir = std::getenv("BREVANT_WIN32_DIR");
    if (dir == nullptr || *dir == '\0') GTEST_SKIP() << "BREVANT_WIN32_DIR is not set";
    if (!brevant_test::HaveTool("i686-w64-mingw32-objdump")) GTEST_SKIP() << "no mingw objdump";
    const std::string command =
        std::string("i686-w64-mingw32-objdump -p '") + dir + "/brevant-cli.exe' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> libraries;
    bool console = false;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        const std::string line = buffer;
        console = console || line.find("(Windows CUI)") != std::string::npos;
        const std::size_t at = line.find("DLL Name: ");
        if (at == std::string::npos) continue;
        std::string name = line.substr(at + 10, line.find_last_not_of("\r\n") - at - 9);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        libraries.push_back(name);
    }
    EXPECT_EQ(pclose(pipe), 0);
    std::sort(libraries.begin(), libraries.end());
    EXPECT_EQ(libraries, (std::vector<std::string>{"kernel32.dll", "msvcrt.dll"}));
    EXPECT_TRUE(console) << "a console program";
}

}  // namespace
}  // namespace winetest
