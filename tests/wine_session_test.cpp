// The Wine session behind the end-to-end tests (tests/wine/wine_session.h), and the tests that
// prove the plumbing with the simulator's WNASPI32.DLL and the small ASPI client.

#include "tests/wine/wine_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/wine/driver_escape.h"

extern char** environ;

namespace winetest {
namespace fs = std::filesystem;

namespace {

constexpr int kBootTimeoutMs = 240000;  // a first boot on a slow machine
constexpr int kXvfbTimeoutMs = 15000;
constexpr int kDriverStartMs = 60000;
constexpr int kShotTimeoutMs = 30000;
constexpr int kKillServerMs = 30000;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string Joined(const std::vector<std::string>& fields, char separator) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += separator;
        line += fields[i];
    }
    return line;
}

std::vector<std::string> MergedEnvironment(const EnvList& extra) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string item = *entry;
        std::string name = item.substr(0, item.find('='));
        bool replaced = false;
        for (const auto& [key, value] : extra) replaced = replaced || key == name;
        if (!replaced) merged.push_back(item);
    }
    for (const auto& [key, value] : extra) merged.push_back(key + "=" + value);
    return merged;
}

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Reads one line from fd within timeoutMs; `pending` keeps what came after it.
bool ReadLine(int fd, std::string* pending, int timeoutMs, std::string* line) {
    long long deadline = NowMs() + timeoutMs;
    for (;;) {
        std::string::size_type newline = pending->find('\n');
        if (newline != std::string::npos) {
            *line = pending->substr(0, newline);
            if (!line->empty() && line->back() == '\r') line->pop_back();
            pending->erase(0, newline + 1);
            return true;
        }
        long long left = deadline - NowMs();
        if (left <= 0) return false;
        pollfd waiting{fd, POLLIN, 0};
        int ready = poll(&waiting, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char chunk[4096];
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;  // the other side closed
        pending->append(chunk, static_cast<size_t>(got));
    }
}

}  // namespace

std::string SkipReason() {
    if (Env("BREVANT_SKIP_WINE") == "1") return "BREVANT_SKIP_WINE=1 switches the Wine tests off";
    if (Win32Dir().empty()) {
        return "BREVANT_WIN32_DIR is not set (it names the cross build folder, e.g. build/win32)";
    }
    return "";
}

std::string Win32Dir() { return Env("BREVANT_WIN32_DIR"); }

std::string WindowsPath(const std::string& unixPath) {
    std::string path = "Z:" + fs::absolute(unixPath).lexically_normal().string();
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

std::string DriverEscaped(const std::string& text) { return EscapeDriverText(text); }

// --- ChildProcess ----------------------------------------------------------------------------

ChildProcess::~ChildProcess() {
    Kill();
    ClosePipes();
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& folder,
                         const std::vector<std::string>& environment, const std::string& outputPath,
                         bool pipes, std::string* error) {
    int toChild[2] = {-1, -1};
    int fromChild[2] = {-1, -1};
    if (pipes && (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> env;
    for (const std::string& e : environment) env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);
    pid_t parent = getpid();

    pid_t pid = fork();
    if (pid < 0) {
        *error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        // Nothing outlives the test process, even when it crashes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(126);
        if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(125);
        if (pipes) {
            dup2(toChild[0], 0);
            dup2(fromChild[1], 1);
            int sink = open(outputPath.empty() ? "/dev/null" : outputPath.c_str(),
                            O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (sink >= 0) dup2(sink, 2);
        } else {
            int nothing = open("/dev/null", O_RDONLY);
            if (nothing >= 0) dup2(nothing, 0);
            int sink = open(outputPath.empty() ? "/dev/null" : outputPath.c_str(),
                            O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (sink >= 0) {
                dup2(sink, 1);
                dup2(sink, 2);
            }
        }
        execvpe(args[0], args.data(), env.data());
        _exit(127);
    }
    pid_ = pid;
    reaped_ = false;
    if (pipes) {
        close(toChild[0]);
        close(fromChild[1]);
        in_ = toChild[1];
        out_ = fromChild[0];
    }
    return true;
}

bool ChildProcess::Running() {
    if (pid_ < 0 || reaped_) return false;
    pid_t done = waitpid(pid_, &status_, WNOHANG);
    if (done == pid_) reaped_ = true;
    return !reaped_;
}

bool ChildProcess::Wait(int timeoutMs, int* status) {
    long long deadline = NowMs() + timeoutMs;
    while (Running()) {
        if (NowMs() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (status != nullptr) *status = status_;
    return pid_ >= 0;
}

void ChildProcess::Kill() {
    if (Running()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
        reaped_ = true;
    }
}

void ChildProcess::ClosePipes() {
    if (in_ >= 0) close(in_);
    if (out_ >= 0) close(out_);
    in_ = out_ = -1;
}

// --- Driver ----------------------------------------------------------------------------------

bool Driver::Start(const std::vector<std::string>& environment, const std::string& folder,
                   std::string* error) {
    std::string exe = (fs::path(Win32Dir()) / "wine_driver.exe").string();
    if (!fs::exists(exe)) {
        *error = exe + " is missing";
        return false;
    }
    pending_.clear();
    process_ = std::make_unique<ChildProcess>();
    if (!process_->Start({"wine", exe}, folder, environment, folder + "/driver.err", true, error)) {
        return false;
    }
    // The first answer also tells that Wine is up.
    std::string reply = Call({"count", "-"}, kDriverStartMs);
    if (reply.rfind("ok", 0) != 0) {
        *error = "wine_driver.exe does not answer: " + reply;
        return false;
    }
    return true;
}

void Driver::Stop() {
    if (!Alive()) return;
    const char quit[] = "quit\n";
    if (write(process_->InFd(), quit, sizeof quit - 1) > 0) process_->Wait(5000);
    process_->Kill();
}

bool Driver::Alive() { return process_ != nullptr && process_->Running(); }

std::string Driver::Call(const std::vector<std::string>& fields, int timeoutMs) {
    if (!Alive()) return "err driver: not running";
    std::string line = Joined(fields, '\t') + "\n";
    if (write(process_->InFd(), line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        return "err driver: cannot write";
    }
    // The driver's own waits end before ours; the margin covers Wine's start-up of a call.
    std::string reply;
    if (!ReadLine(process_->OutFd(), &pending_, timeoutMs + 10000, &reply)) {
        process_->Kill();
        return "err driver: no answer to " + Joined(fields, ' ');
    }
    return reply;
}

// --- WineSession -----------------------------------------------------------------------------

WineSession& WineSession::Instance() {
    static WineSession* session = new WineSession();
    return *session;
}

// The session ends with the process: a gtest environment's TearDown runs after the last test.
class WineSessionEnder : public ::testing::Environment {
  public:
    void TearDown() override { WineSession::Instance().Shutdown(); }
};
static ::testing::Environment* const kSessionEnder =
    ::testing::AddGlobalTestEnvironment(new WineSessionEnder);

WineSession::~WineSession() { Shutdown(); }

bool WineSession::EnsureStarted(std::string* error) {
    if (!tried_) {
        tried_ = true;
        // A driver that dies must not take the test process with it when we write to it.
        signal(SIGPIPE, SIG_IGN);
        std::string pattern = (fs::temp_directory_path() / "brevant-wine-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            failure_ = "cannot make a session folder";
        } else {
            root_ = pattern;
            prefix_ = root_ + "/prefix";
            ready_ = StartXvfb(&failure_) && BootPrefix(&failure_) &&
                     driver_.Start(Environment(), root_, &failure_);
        }
    }
    if (!ready_) *error = failure_;
    return ready_;
}

bool WineSession::StartXvfb(std::string* error) {
    // -displayfd makes Xvfb pick a free display and print its number once it is ready.
    if (!xvfb_.Start({"Xvfb", "-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"},
                     root_, MergedEnvironment({}), root_ + "/xvfb.log", true, error)) {
        return false;
    }
    std::string pending, number;
    if (!ReadLine(xvfb_.OutFd(), &pending, kXvfbTimeoutMs, &number) || number.empty()) {
        *error = "Xvfb did not start (is it installed?); see " + root_ + "/xvfb.log";
        return false;
    }
    display_ = ":" + number;
    return true;
}

bool WineSession::BootPrefix(std::string* error) {
    // The Mono and Gecko installers are not needed and would only slow the boot down.
    return RunToEnd({"wineboot", "-i"}, {{"WINEDLLOVERRIDES", "mscoree,mshtml="}}, kBootTimeoutMs,
                    root_ + "/wineboot.log", error);
}

bool WineSession::RunToEnd(const std::vector<std::string>& argv, const EnvList& env, int timeoutMs,
                           const std::string& outputPath, std::string* error) {
    ChildProcess helper;
    std::vector<std::string> environment = Environment(env);
    if (!helper.Start(argv, root_, environment, outputPath, false, error)) return false;
    int status = 0;
    if (!helper.Wait(timeoutMs, &status)) {
        *error = argv[0] + " took longer than " + std::to_string(timeoutMs / 1000) + " s";
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *error = argv[0] + " failed; see " + outputPath;
        return false;
    }
    return true;
}

void WineSession::Shutdown() {
    if (root_.empty()) return;
    driver_.Stop();
    std::string ignored;
    RunToEnd({"wineserver", "-k"}, {}, kKillServerMs, "", &ignored);
    xvfb_.Kill();
    std::error_code keep;
    if (Env("BREVANT_KEEP_WINE") != "1") fs::remove_all(root_, keep);
    root_.clear();
    ready_ = false;
}

std::vector<std::string> WineSession::Environment(const EnvList& extra) const {
    EnvList all = {{"WINEPREFIX", prefix_},
                   {"WINEDEBUG", "-all"},
                   {"DISPLAY", display_},
                   {"WINEDLLOVERRIDES", "wnaspi32=n"}};
    for (const auto& item : extra) {
        bool replaced = false;
        for (auto& existing : all) {
            if (existing.first == item.first) {
                existing.second = item.second;
                replaced = true;
            }
        }
        if (!replaced) all.push_back(item);
    }
    return MergedEnvironment(all);
}

std::unique_ptr<ChildProcess> WineSession::StartProgram(
    const std::string& exe, const std::vector<std::string>& args, const std::string& folder,
    const EnvList& env, const std::string& outputPath, std::string* error) {
    auto program = std::make_unique<ChildProcess>();
    std::vector<std::string> argv = {"wine", exe};
    argv.insert(argv.end(), args.begin(), args.end());
    if (!program->Start(argv, folder, Environment(env), outputPath, false, error)) return nullptr;
    return program;
}

std::string WineSession::Drive(const std::vector<std::string>& fields, int timeoutMs) {
    if (!ready_) return "err driver: no session";
    if (!driver_.Alive()) {
        std::string error;
        if (!driver_.Start(Environment(), root_, &error)) return "err driver: " + error;
    }
    return driver_.Call(fields, timeoutMs);
}

bool WineSession::Screenshot(const std::string& path, std::string* error) {
    return RunToEnd({"import", "-window", "root", path}, {}, kShotTimeoutMs, root_ + "/import.log",
                    error);
}

// --- WineTest --------------------------------------------------------------------------------

void WineTest::SetUp() {
    std::string reason = SkipReason();
    if (!reason.empty()) GTEST_SKIP() << reason;
    std::string error;
    ASSERT_TRUE(WineSession::Instance().EnsureStarted(&error)) << "Wine session: " << error;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = WineSession::Instance().Root() + "/" + info->test_suite_name() + "." + info->name();
    fs::remove_all(folder_);
    fs::create_directories(folder_ + "/out");
}

void WineTest::TearDown() {
    for (auto& program : programs_) program->Kill();
    programs_.clear();
}

bool WineTest::HaveBuildFile(const std::string& name) const {
    return fs::exists(fs::path(Win32Dir()) / name);
}

bool WineTest::CopyFromBuild(const std::string& name) {
    std::error_code failed;
    fs::copy_file(fs::path(Win32Dir()) / name, fs::path(folder_) / name,
                  fs::copy_options::overwrite_existing, failed);
    EXPECT_FALSE(failed) << "cannot copy " << name << " from " << Win32Dir() << ": "
                         << failed.message();
    return !failed;
}

void WineTest::WriteFile(const std::string& name, const std::string& content) {
    std::ofstream out(fs::path(folder_) / name, std::ios::binary);
    out << content;
    ASSERT_TRUE(out.good()) << "cannot write " << name;
}

std::string WineTest::ReadFile(const std::string& path) const {
    fs::path full = fs::path(path).is_absolute() ? fs::path(path) : fs::path(folder_) / path;
    std::ifstream in(full, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

ChildProcess* WineTest::Run(const std::string& exe, const std::vector<std::string>& args,
                            const EnvList& env) {
    EnvList all = {{"BREVANT_SIM_OUT", WindowsPath(folder_ + "/out")}};
    all.insert(all.end(), env.begin(), env.end());
    std::string error;
    auto program = WineSession::Instance().StartProgram(exe, args, folder_, all,
                                                        folder_ + "/" + exe + ".out", &error);
    EXPECT_NE(program, nullptr) << "cannot start " << exe << ": " << error;
    if (program == nullptr) return nullptr;
    programs_.push_back(std::move(program));
    return programs_.back().get();
}

std::string WineTest::OutputOf(const std::string& exe) const {
    // Windows programs end their lines in CR LF.
    std::string text = ReadFile(exe + ".out");
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

std::string WineTest::SimSummary(const std::string& key, const std::string& outDir) const {
    std::istringstream lines(ReadFile(outDir + "/disk.txt"));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    }
    return "";
}

std::vector<std::string> WineTest::SimTrace(const std::string& outDir) const {
    std::istringstream lines(ReadFile(outDir + "/trace.txt"));
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);) all.push_back(line);
    return all;
}

std::string WineTest::Drive(const std::vector<std::string>& fields, int timeoutMs) {
    return WineSession::Instance().Drive(fields, timeoutMs);
}

std::string WineTest::WaitForText(const std::string& title, int id, const std::string& prefix,
                                  int timeoutMs) {
    long long deadline = NowMs() + timeoutMs;
    std::string text;
    for (;;) {
        std::string reply = Drive({"text", title, std::to_string(id)});
        text = reply.rfind("ok ", 0) == 0 ? reply.substr(3) : reply;
        if (text.rfind(prefix, 0) == 0 || NowMs() >= deadline) return text;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void WineTest::SaveScreenshot(const std::string& name) {
    fs::path shots = fs::path(BREVANT_BINARY_DIR) / "wine-shots";
    std::error_code ignored;
    fs::create_directories(shots, ignored);
    std::string path = (shots / (name + ".png")).string();
    std::string error;
    EXPECT_TRUE(WineSession::Instance().Screenshot(path, &error)) << error;
    std::cout << "[ screenshot ] " << path << "\n";
}

}  // namespace winetest

// --- The plumbing, proved with the ASPI client -----------------------------------------------

namespace winetest {
namespace {

// A system disk beside a reader whose flash disk is one bank of 73h.
const char kReaderBesideSystemDisk[] =
    "foreign drive=C adapter=0 target=0 name=\"System Disk\"\n"
    "reader adapter=0 target=1\n"
    "unit DS drive=E\n"
    "banks 73\n"
    "cis page=0\n";

class WineAspiTest : public WineTest {
  protected:
    // Runs the client to its end (window mode excepted) and returns its exit code, -1 when it
    // did not end in time.
    int RunClient(const EnvList& env = {}) {
        ChildProcess* client = Run("aspi_client.exe", {}, env);
        int status = 0;
        if (client == nullptr || !client->Wait(60000, &status)) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Output() const { return OutputOf("aspi_client.exe"); }
    bool Says(const std::string& line) const {
        return Output().find(line + "\n") != std::string::npos;
    }
    void SetUpClient(const std::string& description) {
        ASSERT_TRUE(CopyFromBuild("aspi_client.exe"));
        ASSERT_TRUE(CopyFromBuild("WNASPI32.DLL"));
        WriteFile("brevant-sim.txt", description);
    }
};

// Without the simulator's library beside it, the client must not reach Wine's built-in ASPI
// layer either: the override makes the native library the only one that can load.
TEST_F(WineAspiTest, WithoutTheLibraryTheClientCannotLoadIt) {
    ASSERT_TRUE(CopyFromBuild("aspi_client.exe"));
    EXPECT_EQ(RunClient(), 1) << Output();
    EXPECT_NE(Output().find("load failed"), std::string::npos) << Output();
}

TEST_F(WineAspiTest, ClientReachesTheDescribedReaderThroughTheLibrary) {
    SetUpClient(kReaderBesideSystemDisk);
    ASSERT_EQ(RunClient(), 0) << Output();
    EXPECT_TRUE(Says("load ok")) << Output();
    EXPECT_TRUE(Says("support 0x0101 adapters 1 status 1")) << Output();
    EXPECT_TRUE(Says("reader ha 0 target 1 medium DS")) << Output();
    EXPECT_TRUE(Says("bank-count status 0x01 value 1")) << Output();
    EXPECT_TRUE(Says("device-code status 0x01 value 0x73")) << Output();
    EXPECT_EQ(Output().find("status mismatch"), std::string::npos) << Output();

    // What the process left behind when it released the library.
    std::string sectors = SimSummary("sectors");
    ASSERT_FALSE(sectors.empty()) << "no summary in out/: " << ReadFile("out/error.txt");
    EXPECT_TRUE(Says("capacity status 0x01 last " + std::to_string(std::stoul(sectors) - 1)))
        << Output();
    EXPECT_EQ(SimSummary("cis-page"), "0");
    std::vector<std::string> trace = SimTrace();
    ASSERT_EQ(trace.size(), 5u) << ReadFile("out/trace.txt");  // 2 INQUIRY, C2h, F7h, 25h
    EXPECT_EQ(trace[0].find("foreign C: 12 "), 0u) << trace[0];
    EXPECT_EQ(trace[2].find("reader 0 lun 0: C2 "), 0u) << trace[2];
    EXPECT_NE(trace[2].find(" in 1 good"), std::string::npos) << trace[2];
    // The raw pages of bank 0: 1024 blocks of 32 pages of 528 bytes; page 0 is the CIS page.
    std::string pages = ReadFile("out/bank0.pages");
    EXPECT_EQ(pages.size(), 1024u * 32 * 528);
    EXPECT_EQ(pages.substr(0, 4), "USBC");
    EXPECT_EQ(ReadFile("out/disk.img").size(), std::stoul(sectors) * 512);
}

TEST_F(WineAspiTest, DescriptionNamedInTheEnvironmentWins) {
    SetUpClient(kReaderBesideSystemDisk);
    WriteFile("other.txt", "reader adapter=0 target=0\nunit DS drive=E\nbanks 75\n");
    ASSERT_EQ(RunClient({{"BREVANT_SIM_DISK", WindowsPath(Folder() + "/other.txt")}}), 0)
        << Output();
    EXPECT_TRUE(Says("reader ha 0 target 0 medium DS")) << Output();
    EXPECT_TRUE(Says("device-code status 0x01 value 0x75")) << Output();
}

TEST_F(WineAspiTest, BrokenDescriptionLeavesNoAdapterAndSaysWhy) {
    SetUpClient("reader adapter=0 target=0\nunit DS drive=E\nbanks 73\nsparkles 3\n");
    ASSERT_EQ(RunClient(), 0) << Output();
    EXPECT_TRUE(Says("support 0xE800 adapters 0 status 232")) << Output();
    EXPECT_NE(ReadFile("out/error.txt").find("line 4"), std::string::npos)
        << ReadFile("out/error.txt");
}

TEST_F(WineAspiTest, LibraryDescribedAsAbsentDoesNotLoad) {
    SetUpClient(std::string("aspi library=absent\n") + kReaderBesideSystemDisk);
    EXPECT_EQ(RunClient(), 1) << Output();
    EXPECT_NE(Output().find("load failed"), std::string::npos) << Output();
}

// A command that never completes stays pending in its block; the next ones still run. (The
// third command that reaches the reader is F7h: the system disk's INQUIRY does not count.)
TEST_F(WineAspiTest, HungCommandStaysPending) {
    SetUpClient(std::string("hang-on 3\n") + kReaderBesideSystemDisk);
    ASSERT_EQ(RunClient(), 0) << Output();
    EXPECT_TRUE(Says("bank-count status 0x01 value 1")) << Output();
    EXPECT_TRUE(Says("device-code status 0x00 value 0x00")) << Output();
    EXPECT_NE(Output().find("capacity status 0x01 last "), std::string::npos) << Output();
}

// The driver finds the window, reads and clicks its controls, answers its message box and sends
// it a message; the process then ends through its own Exit button.
TEST_F(WineAspiTest, WindowIsDrivenFromOutside) {
    SetUpClient(kReaderBesideSystemDisk);
    ChildProcess* client = Run("aspi_client.exe", {"window"});
    ASSERT_NE(client, nullptr);
    const std::string title = "ASPI Client";
    ASSERT_EQ(Drive({"wait", title, "30000"}), "ok") << Output();
    EXPECT_EQ(Drive({"text", title, "1000"}), "ok QZ DS banks 1 code 0x73");
    EXPECT_EQ(Drive({"state", title, "1013"}), "ok 1 0");
    EXPECT_EQ(Drive({"text", title, "4242"}), "err no control");
    EXPECT_EQ(Drive({"text", "No Such Window", "1000"}), "err no window");
    SaveScreenshot("aspi-client");

    ASSERT_EQ(Drive({"click", title, "1013"}), "ok");
    EXPECT_EQ(Drive({"box", title, "10000"}), "ok Query the reader again?\t1,2");
    EXPECT_EQ(Drive({"count", title}), "ok 1") << "the box must not count as a main window";
    ASSERT_EQ(Drive({"answer", title, "2"}), "ok");
    EXPECT_EQ(WaitForText(title, 1000, "cancelled"), "cancelled");
    EXPECT_EQ(Drive({"frobnicate", title}), "err unknown command frobnicate");

    ASSERT_EQ(Drive({"click", title, "1013"}), "ok");
    ASSERT_EQ(Drive({"box", title, "10000"}).rfind("ok ", 0), 0u);
    ASSERT_EQ(Drive({"answer", title, "1"}), "ok");
    EXPECT_EQ(WaitForText(title, 1000, "again: "), "again: QZ DS banks 1 code 0x73");

    // Two rounds of five requests, counted by the window and by the simulator's trace.
    EXPECT_EQ(Drive({"send", title, "1481", "0", "0", "5000"}), "ok A");
    ASSERT_EQ(Drive({"click", title, "2"}), "ok");
    EXPECT_EQ(Drive({"gone", title, "20000"}), "ok");
    int status = 0;
    ASSERT_TRUE(client->Wait(30000, &status));
    EXPECT_TRUE(Says("released")) << Output();
    EXPECT_EQ(SimTrace().size(), 10u);
}

}  // namespace
}  // namespace winetest
