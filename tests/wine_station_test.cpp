// The station of brevant-cli.exe under Wine, over the simulator's WNASPI32.DLL: many sticks
// formatted at once by `format --all`, each by a worker process of its own, each stick judged
// by what it received (the trace and the pages the library of its worker's process left).

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/report_schema.h"
#include "tests/wine/wine_session.h"

namespace winetest {
namespace {

namespace fs = std::filesystem;

constexpr int kSoundSticks = 8;

// Eight sound sticks of 4 MiB with an old CIS page and a vendor page each, then one that locks
// up early in its format and answers nothing from then on (its worker waits out time-outs for
// the better part of a minute).
std::string StationMachine() {
    std::string text;
    for (int i = 0; i <= kSoundSticks; ++i) {
        text += "reader\nunit DS\nbanks E3\ncis page=0 sectors=7000\nvendor-page text=\"STICK " +
                std::to_string(i) + "\"\n";
        if (i == kSoundSticks) text += "hang-from 60\n";
    }
    return text;
}

// Sticks of 4 MiB whose old CIS page says 7000 sectors (a format writes 8000), each command
// 20 ms: a format takes some twenty seconds.
std::string SlowSticks(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "reader\nunit DS\nbanks E3\ncis page=0 sectors=7000\nlatency us=20000\n";
    }
    return text;
}

// The lines of a station's plain output whose stick has ended so ("0:3  complete, 0 bad, ...").
std::vector<std::string> NodesEnded(const std::string& output, const std::string& result) {
    std::vector<std::string> nodes;
    std::istringstream lines(output);
    const std::regex ended("^([0-9]+:[0-9]+)  " + result + ",");
    std::smatch match;
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_search(line, match, ended)) nodes.push_back(match[1]);
    }
    std::sort(nodes.begin(), nodes.end());
    nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
    return nodes;
}

// "key=value" of a summary text.
std::string Value(const std::string& summary, const std::string& key) {
    std::istringstream lines(summary);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    }
    return "";
}

class WineStation : public WineTest {
  protected:
    void SetUp() override {
        WineTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(HaveBuildFile("brevant-cli.exe")) << "brevant-cli.exe is not in " << Win32Dir();
        ASSERT_TRUE(CopyFromBuild("brevant-cli.exe"));
        ASSERT_TRUE(CopyFromBuild("WNASPI32.DLL"));
        WriteFile("brevant-sim.txt", StationMachine());
    }

    // Starts brevant-cli.exe with `command` (format --all, or watch), unattended, its reports
    // in "reports" and the old pages in "backups"; each process of the run leaves what the
    // simulator's library has to say in "out-<process id>".
    ChildProcess* Station(std::vector<std::string> command) {
        fs::create_directories(Folder() + "/reports");
        const std::vector<std::string> rest = {"--yes", "--report-dir",
                                               WindowsPath(Folder() + "/reports"), "--backup-dir",
                                               WindowsPath(Folder() + "/backups")};
        command.insert(command.end(), rest.begin(), rest.end());
        return Run("brevant-cli.exe", command,
                   {{"BREVANT_SIM_OUT", WindowsPath(Folder() + "/out-{pid}")}});
    }

    // Waits for `count` workers to have ended and left their folders (a stick's end is told
    // when its worker says so, a moment before its process ends and the library writes).
    bool WaitForWorkerFolders(std::size_t count) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (WorkerFolders().size() < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return WorkerFolders().size() == count;
    }

    // Waits for the station's output to satisfy `done`, or for the deadline.
    template <typename Done>
    bool WaitForOutput(Done done, int timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            if (done(OutputOf("brevant-cli.exe"))) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return done(OutputOf("brevant-cli.exe"));
    }

    // The output folders the processes of the run left ("out-<process id>") with the whole
    // summary of a disk they erased (its last line written): the workers'.
    std::vector<fs::path> WorkerFolders() const {
        std::vector<fs::path> folders;
        for (const auto& entry : fs::directory_iterator(Folder())) {
            if (entry.path().filename().string().rfind("out-", 0) != 0) continue;
            for (const auto& file : fs::directory_iterator(entry.path())) {
                const std::string name = file.path().filename().string();
                if (name.rfind("disk-", 0) == 0 && file.path().extension() == ".txt" &&
                    ReadFile(file.path().string()).find("bad-blocks-0=") != std::string::npos) {
                    folders.push_back(entry.path());
                    break;
                }
            }
        }
        return folders;
    }
};

// Eight sticks, eight workers, eight reports; the ninth stick, locked up, holds none of them up.
TEST_F(WineStation, FormatAllGivesEachStickAReportAndALockedUpStickHoldsUpNone) {
    ChildProcess* station = Station({"format", "--all"});
    ASSERT_NE(station, nullptr);

    // The eight sound sticks end complete while the locked-up one is still being waited for.
    const bool eightEnded = WaitForOutput(
        [](const std::string& output) {
            return NodesEnded(output, "complete").size() == kSoundSticks;
        },
        120000);
    const std::string output = OutputOf("brevant-cli.exe");
    ASSERT_TRUE(eightEnded) << output;
    EXPECT_TRUE(station->Running()) << output;
    const std::vector<std::string> complete = NodesEnded(output, "complete");
    const std::regex anyEnd("^[0-9]+:[0-9]+  [a-z -]+, [0-9]+ bad");
    std::istringstream lines(output);
    int ends = 0;
    for (std::string line; std::getline(lines, line);) ends += std::regex_search(line, anyEnd);
    EXPECT_EQ(ends, kSoundSticks) << "only the sound sticks have ended:\n" << output;
    ASSERT_TRUE(WaitForWorkerFolders(kSoundSticks));
    station->Kill();  // the locked-up stick's worker follows its station (not judged here)

    // A report of each, validated, its stick one of those that ended complete.
    std::map<std::string, nlohmann::json> reportOf;
    for (const auto& entry : fs::directory_iterator(Folder() + "/reports")) {
        if (entry.path().extension() != ".json") continue;
        const std::string text = ReadFile(entry.path().string());
        EXPECT_EQ(SchemaErrors(text), "") << entry.path();
        const auto report = nlohmann::json::parse(text, nullptr, false);
        ASSERT_FALSE(report.is_discarded()) << entry.path();
        reportOf[report["device"]["node"].get<std::string>()] = report;
    }
    ASSERT_EQ(reportOf.size(), static_cast<std::size_t>(kSoundSticks));
    for (const std::string& node : complete) {
        ASSERT_EQ(reportOf.count(node), 1u) << node;
        EXPECT_EQ(reportOf[node]["result"], "complete") << node;
    }

    // Each sound stick judged by what it received: it was erased by one process alone, which
    // sent nothing to any other stick; its new CIS page holds the capacity its report gives.
    std::map<int, int> erasedBy;  // flash disk number: how many processes erased it
    for (const fs::path& folder : WorkerFolders()) {
        for (int disk = 0; disk < kSoundSticks; ++disk) {
            const std::string summary =
                ReadFile((folder / ("disk-" + std::to_string(disk) + ".txt")).string());
            if (summary.empty()) continue;
            ++erasedBy[disk];
            const std::string node = "0:" + std::to_string(disk);
            ASSERT_EQ(reportOf.count(node), 1u) << node << " was erased but has no report";
            const nlohmann::json& report = reportOf[node];
            EXPECT_EQ(Value(summary, "cis-page"), "0") << node;
            EXPECT_EQ(Value(summary, "cis-sectors"),
                      std::to_string(report["capacity_after_sectors"].get<long>()))
                << node;
            EXPECT_EQ(Value(summary, "erase-count"),
                      std::to_string(report["erased_blocks"].get<long>()))
                << node;
            EXPECT_EQ(Value(summary, "bad-blocks-0"), "0") << node;
            EXPECT_EQ(Value(summary, "stopped"), "1") << node;
            const std::string prefix = "reader " + std::to_string(disk) + " ";
            for (const std::string& line : SimTrace(folder.filename().string())) {
                EXPECT_EQ(line.rfind(prefix, 0), 0u) << folder << ": " << line;
            }
            const std::string image = (folder / ("disk-" + std::to_string(disk) + ".img")).string();
            const std::string check = "PATH=\"$PATH:/usr/sbin:/sbin\" fsck.fat -n '" + image +
                                      "' > '" + Folder() + "/fsck.txt' 2>&1";
            EXPECT_EQ(std::system(check.c_str()), 0) << node << ": " << ReadFile("fsck.txt");
        }
    }
    for (int disk = 0; disk < kSoundSticks; ++disk) {
        EXPECT_EQ(erasedBy[disk], 1) << "stick 0:" << disk;
    }
}

// A station that goes away (killed, its console closed) takes its workers' runs with it, each
// ended as a stop ends it: the old pages written back, the report written.
TEST_F(WineStation, WorkersWhoseStationIsGoneStopAndPutTheirPagesBack) {
    WriteFile("brevant-sim.txt", SlowSticks(2));
    ChildProcess* station = Station({"format", "--all"});
    ASSERT_NE(station, nullptr);
    // Both sticks under way: blocks erased (told every five seconds off a terminal).
    const bool scanning = WaitForOutput(
        [](const std::string& output) {
            return std::regex_search(output, std::regex("0:0 +[0-9]+%  [1-9][0-9]*/512")) &&
                   std::regex_search(output, std::regex("0:1 +[0-9]+%  [1-9][0-9]*/512"));
        },
        60000);
    ASSERT_TRUE(scanning) << OutputOf("brevant-cli.exe");
    station->Kill();

    // Each worker ends on its own (its library writes as its process ends) and leaves its
    // report, written before: stopped, its old pages back.
    ASSERT_TRUE(WaitForWorkerFolders(2));
    std::vector<fs::path> reports;
    for (const auto& entry : fs::directory_iterator(Folder() + "/reports")) {
        if (entry.path().extension() == ".json") reports.push_back(entry.path());
    }
    ASSERT_EQ(reports.size(), 2u);
    for (const fs::path& path : reports) {
        const auto report = nlohmann::json::parse(ReadFile(path.string()), nullptr, false);
        ASSERT_FALSE(report.is_discarded()) << path;
        EXPECT_EQ(report["result"], "cancelled") << path;
        EXPECT_EQ(report["cis"]["old_cis_page_fate"], "restored") << path;
    }
    // The sticks' own word: the old page, which says 7000 sectors, is where it was.
    for (const fs::path& folder : WorkerFolders()) {
        int judged = 0;
        for (int disk = 0; disk < 2; ++disk) {
            const std::string summary =
                ReadFile((folder / ("disk-" + std::to_string(disk) + ".txt")).string());
            if (summary.empty()) continue;
            ++judged;
            EXPECT_EQ(Value(summary, "cis-page"), "0") << folder;
            EXPECT_EQ(Value(summary, "cis-sectors"), "7000") << folder;
        }
        EXPECT_EQ(judged, 1) << folder;
    }
}

// Ctrl-C at the station's console (sent by console_stop.exe once the station can tell the time
// left, some five seconds into both scans; on a pseudo-terminal: Wine gives a console only
// there) reaches every worker through the station,
// and each ends as a stop ends it: its old page back on its stick.
TEST_F(WineStation, CtrlCAtTheStationStopsEveryWorkerAndEachPutsItsPagesBack) {
    WriteFile("brevant-sim.txt", SlowSticks(2));
    ASSERT_TRUE(CopyFromBuild("console_stop.exe"));
    fs::create_directories(Folder() + "/reports");
    fs::create_directories(Folder() + "/control");
    const std::string output = WindowsPath(Folder() + "/stopped.out");
    std::string line = "wine console_stop.exe '" + output + "' 'retired; 0:' ctrl-c '" +
                       WindowsPath(Folder() + "/control") + "' '" + output +
                       "' brevant-cli.exe format --all --yes --report-dir '" +
                       WindowsPath(Folder() + "/reports") + "' --backup-dir '" +
                       WindowsPath(Folder() + "/backups") + "'";
    ChildProcess program;
    std::string error;
    ASSERT_TRUE(program.Start({"script", "-qec", line, "/dev/null"}, Folder(),
                              WineSession::Instance().Environment(
                                  {{"BREVANT_SIM_OUT", WindowsPath(Folder() + "/out-{pid}")}}),
                              Folder() + "/console.out", false, &error))
        << error;
    int status = 0;
    ASSERT_TRUE(program.Wait(120000, &status)) << "console_stop.exe hangs";
    const std::string said = ReadFile("stopped.out");
    ASSERT_TRUE(WIFEXITED(status)) << said;
    EXPECT_EQ(WEXITSTATUS(status), 3) << said;  // stopped
    ASSERT_TRUE(WaitForWorkerFolders(2)) << said;
    for (const fs::path& folder : WorkerFolders()) {
        for (int disk = 0; disk < 2; ++disk) {
            const std::string summary =
                ReadFile((folder / ("disk-" + std::to_string(disk) + ".txt")).string());
            if (summary.empty()) continue;
            EXPECT_EQ(Value(summary, "cis-page"), "0") << folder;
            EXPECT_EQ(Value(summary, "cis-sectors"), "7000") << folder;
        }
    }
    int reports = 0;
    for (const auto& entry : fs::directory_iterator(Folder() + "/reports")) {
        if (entry.path().extension() != ".json") continue;
        ++reports;
        const auto report = nlohmann::json::parse(ReadFile(entry.path().string()), nullptr, false);
        ASSERT_FALSE(report.is_discarded()) << entry.path();
        EXPECT_EQ(report["result"], "cancelled") << entry.path();
    }
    EXPECT_EQ(reports, 2);
}

// The watch on Windows looks at the readers every two seconds, each look a fresh start of the
// library (which reads the machine's description anew, so a description that gains a reader is
// a stick plugged in): a stick there before the watch is left alone, one that comes is
// formatted by a worker of its own.
TEST_F(WineStation, TheWatchFormatsAStickThatComesAndLeavesTheOneThatWasThere) {
    const std::string stick = "reader\nunit DS\nbanks E3\ncis page=0 sectors=7000\n";
    WriteFile("brevant-sim.txt", stick);
    ChildProcess* watch = Station({"watch"});
    ASSERT_NE(watch, nullptr);
    ASSERT_TRUE(WaitForOutput(
        [](const std::string& output) {
            return output.find("Watching for sticks (1 there already, left alone)") !=
                   std::string::npos;
        },
        60000))
        << OutputOf("brevant-cli.exe");
    // A second stick plugged in: the description replaced whole, as a look may read it any time.
    WriteFile("plugged.txt", stick + stick);
    fs::rename(Folder() + "/plugged.txt", Folder() + "/brevant-sim.txt");
    const bool formatted = WaitForOutput(
        [](const std::string& output) { return !NodesEnded(output, "[a-z -]+").empty(); }, 60000);
    const std::string output = OutputOf("brevant-cli.exe");
    ASSERT_TRUE(formatted) << output;
    EXPECT_EQ(NodesEnded(output, "complete"), std::vector<std::string>{"0:1"}) << output;
    EXPECT_TRUE(watch->Running()) << output;
    // Only the new stick was erased, by one worker, and its page holds what its report says.
    ASSERT_TRUE(WaitForWorkerFolders(1));
    watch->Kill();
    const fs::path folder = WorkerFolders()[0];
    EXPECT_FALSE(fs::exists(folder / "disk-0.txt"));
    const std::string summary = ReadFile((folder / "disk-1.txt").string());
    EXPECT_EQ(Value(summary, "cis-page"), "0");
    EXPECT_EQ(Value(summary, "cis-sectors"), "8000");
    int reports = 0;
    for (const auto& entry : fs::directory_iterator(Folder() + "/reports")) {
        if (entry.path().extension() != ".json") continue;
        ++reports;
        const auto report = nlohmann::json::parse(ReadFile(entry.path().string()), nullptr, false);
        ASSERT_FALSE(report.is_discarded()) << entry.path();
        EXPECT_EQ(report["device"]["node"], "0:1");
        EXPECT_EQ(report["capacity_after_sectors"], 8000);
    }
    EXPECT_EQ(reports, 1);
}

}  // namespace
}  // namespace winetest
