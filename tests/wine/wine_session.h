#pragma once
#include <gtest/gtest.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

// Runs the Windows programs of the cross build under Wine, on a virtual X screen, and drives
// their windows from outside with wine_driver.exe.
//
// One session per test process: one Xvfb, one fresh Wine prefix (booted once, which takes most
// of the set-up time) and one driver, started by the first Wine test and torn down when the
// process ends (the wineserver of the prefix is killed, so no Windows process outlives it). Each
// test gets a fresh folder in which its programs run.
//
// The tests need BREVANT_WIN32_DIR (the cross build folder with WNASPI32.DLL, wine_driver.exe,
// aspi_client.exe and Brevant.exe); they skip when it is unset or BREVANT_SKIP_WINE=1. Run them
// in one process (--gtest_filter='Wine*'), not one process per test, or every test pays for a
// prefix of its own. BREVANT_KEEP_WINE=1 keeps the session folder (prefix, logs, the tests'
// folders) for a look after the run.

namespace winetest {

using EnvList = std::vector<std::pair<std::string, std::string>>;

// Why the Wine tests do not run here; empty when they do.
std::string SkipReason();
// The cross build folder named by BREVANT_WIN32_DIR.
std::string Win32Dir();
// The Windows name of a Unix path (through Wine's Z: drive).
std::string WindowsPath(const std::string& unixPath);
// A text as the driver writes it into an answer (line breaks as \n, and so on).
std::string DriverEscaped(const std::string& text);

// A process this test process started. It is killed (by its own id) when dropped while running,
// and it gets SIGKILL if the test process dies first.
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // argv[0] is looked up in PATH. Standard output and error go to `outputPath` (or to
    // /dev/null when empty) unless `pipes` is set: then stdin and stdout are pipes to this
    // process (InFd, OutFd). `environment` is the whole environment of the child.
    bool Start(const std::vector<std::string>& argv, const std::string& folder,
               const std::vector<std::string>& environment, const std::string& outputPath,
               bool pipes, std::string* error);
    bool Running();
    // Waits for the end; false on time-out. The wait status goes to `status`.
    bool Wait(int timeoutMs, int* status = nullptr);
    void Kill();

    pid_t Pid() const { return pid_; }
    int InFd() const { return in_; }
    int OutFd() const { return out_; }

  private:
    void ClosePipes();

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

// The line-based conversation with wine_driver.exe.
class Driver {
  public:
    bool Start(const std::vector<std::string>& environment, const std::string& folder,
               std::string* error);
    void Stop();
    bool Alive();
    // Sends the tab-joined fields and returns the answer line ("ok ...", "err ..."). When the
    // driver does not answer within timeoutMs it is stopped and "err driver: ..." is returned.
    std::string Call(const std::vector<std::string>& fields, int timeoutMs);

  private:
    std::unique_ptr<ChildProcess> process_;
    std::string pending_;  // bytes read beyond the last answer
};

class WineSession {
  public:
    static WineSession& Instance();

    // Starts Xvfb, the prefix and the driver on first use. Remembers a failure.
    bool EnsureStarted(std::string* error);
    void Shutdown();

    const std::string& Root() const { return root_; }
    // Environment for a Windows program, with `extra` added or replaced.
    std::vector<std::string> Environment(const EnvList& extra = {}) const;
    // Starts `wine <exe> <args>` in `folder`; output (stdout and stderr) to outputPath.
    std::unique_ptr<ChildProcess> StartProgram(const std::string& exe,
                                               const std::vector<std::string>& args,
                                               const std::string& folder, const EnvList& env,
                                               const std::string& outputPath, std::string* error);
    // Asks the driver; restarts it once if it has died.
    std::string Drive(const std::vector<std::string>& fields, int timeoutMs);
    // A PNG of the whole virtual screen.
    bool Screenshot(const std::string& path, std::string* error);

  private:
    WineSession() = default;
    ~WineSession();
    bool StartXvfb(std::string* error);
    bool BootPrefix(std::string* error);
    // Runs a helper program to its end; false when it fails or outlives timeoutMs.
    bool RunToEnd(const std::vector<std::string>& argv, const EnvList& env, int timeoutMs,
                  const std::string& outputPath, std::string* error);

    bool tried_ = false;
    bool ready_ = false;
    std::string failure_;
    std::string root_;
    std::string prefix_;
    std::string display_;
    ChildProcess xvfb_;
    Driver driver_;
};

// Base of the Wine tests: skips or fails early, gives each test a fresh folder and stops the
// programs the test started.
class WineTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    const std::string& Folder() const { return folder_; }
    // Copies a file of the cross build folder into the test folder; false (and a test failure)
    // when it is not there.
    bool CopyFromBuild(const std::string& name);
    bool HaveBuildFile(const std::string& name) const;
    void WriteFile(const std::string& name, const std::string& content);
    std::string ReadFile(const std::string& path) const;  // empty when missing
    // Starts a program of the test folder; nullptr (and a test failure) when it cannot start.
    ChildProcess* Run(const std::string& exe, const std::vector<std::string>& args = {},
                      const EnvList& env = {});
    // What a program wrote to standard output, collected in `<exe>.out`.
    std::string OutputOf(const std::string& exe) const;

    // What the simulator's library left in an output folder of the test folder ("out" unless the
    // test named another in BREVANT_SIM_OUT): a "key=value" line of its summary ("" when
    // missing), and the command trace, one command per line.
    std::string SimSummary(const std::string& key, const std::string& outDir = "out") const;
    std::vector<std::string> SimTrace(const std::string& outDir = "out") const;

    std::string Drive(const std::vector<std::string>& fields, int timeoutMs = 15000);
    // Polls the text of a control until it starts with `prefix` (the driver escapes line
    // breaks as \n); returns the last text seen, or the driver's error.
    std::string WaitForText(const std::string& title, int id, const std::string& prefix,
                            int timeoutMs = 20000);
    // Saves a screenshot as <build folder>/wine-shots/<name>.png and says where.
    void SaveScreenshot(const std::string& name);

  private:
    std::string folder_;
    std::vector<std::unique_ptr<ChildProcess>> programs_;
};

}  // namespace winetest
