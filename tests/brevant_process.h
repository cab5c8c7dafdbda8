#pragma once
// The brevant program run as a whole, as a user runs it: on a pipe or on a pseudo-terminal of a
// chosen width, answered at its prompts, signalled, and its output read.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace brevant_test {

const std::string kBrevant = std::string(BREVANT_BINARY_DIR) + "/brevant";

constexpr int kExitComplete = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 3;
constexpr int kExitNoDisk = 4;
constexpr int kExitCompleteUnmarkable = 5;
constexpr int kExitWorn = 6;
constexpr int kExitRetire = 7;
constexpr int kExitCounterfeit = 8;

// One run of the program: standard input and output on a pipe (input from /dev/null) or on a
// pseudo-terminal, standard error with standard output.
class Brevant {
  public:
    struct Options {
        std::string dir = "/";
        bool terminal = false;
        int columns = 0;          // the terminal's width, when not the default
        int rows = 0;             // the terminal's height, when not the default (24)
        bool asNobody = false;    // drop root before running
        bool errorsOnly = false;  // read standard error alone; standard output goes nowhere
        bool outputOnly = false;  // read standard output alone; standard error goes nowhere
        std::string program;      // another copy of the program to run; empty: the built one
        long fileSizeLimit = 0;   // the bytes a file may grow to (RLIMIT_FSIZE); 0: no limit
    };

    Brevant(const std::vector<std::string>& args, const Options& options) {
        int childEnd = -1;
        if (options.terminal) {
            fd_ = posix_openpt(O_RDWR | O_NOCTTY);
            if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) return;
            childEnd = open(ptsname(fd_), O_RDWR | O_NOCTTY);
            if (options.columns > 0 || options.rows > 0) {
                winsize size = {};
                size.ws_col =
                    static_cast<unsigned short>(options.columns > 0 ? options.columns : 80);
                size.ws_row = static_cast<unsigned short>(options.rows > 0 ? options.rows : 24);
                ioctl(childEnd, TIOCSWINSZ, &size);
            }
        } else {
            int pipeFds[2];
            if (pipe(pipeFds) != 0) return;
            fd_ = pipeFds[0];
            childEnd = pipeFds[1];
        }
        pid_ = fork();
        if (pid_ == 0) {
            close(fd_);  // the child keeps only its own end
            if (options.terminal) {
                setsid();
                ioctl(childEnd, TIOCSCTTY, 0);
                dup2(childEnd, 0);
            } else {
                int null = open("/dev/null", O_RDONLY);
                dup2(null, 0);
            }
            if (options.errorsOnly) {
                int null = open("/dev/null", O_WRONLY);
                dup2(null, 1);
            } else {
                dup2(childEnd, 1);
            }
            if (options.outputOnly) {
                int null = open("/dev/null", O_WRONLY);
                dup2(null, 2);
            } else {
                dup2(childEnd, 2);
            }
            if (chdir(options.dir.c_str()) != 0) _exit(120);
            if (options.fileSizeLimit > 0) {
                const rlimit limit{static_cast<rlim_t>(options.fileSizeLimit),
                                   static_cast<rlim_t>(options.fileSizeLimit)};
                if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(122);
            }
            if (options.asNobody && getuid() == 0) {
                if (setgid(65534) != 0 || setuid(65534) != 0) _exit(121);
            }
            const std::string& program = options.program.empty() ? kBrevant : options.program;
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(childEnd);
    }
    ~Brevant() {
        if (pid_ > 0 && !finished_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0) close(fd_);
    }

    // Reads output until `text` has appeared (true) or the time is up / the output ends.
    bool WaitFor(const std::string& text, int seconds = 20) {
        return WaitUntil(
            [&text](const std::string& output) { return output.find(text) != std::string::npos; },
            seconds);
    }
    // Reads output until what has come holds (true) or the time is up / the output ends.
    template <typename Holds>
    bool WaitUntil(Holds holds, int seconds = 20) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!holds(output_)) {
            if (std::chrono::steady_clock::now() > deadline || !ReadSome(100)) {
                return holds(output_);
            }
        }
        return true;
    }
    void Type(const std::string& text) {
        ssize_t written = write(fd_, text.data(), text.size());
        (void)written;
    }
    void Signal(int sig) { kill(pid_, sig); }
    // The terminal takes a new size (the program is told by SIGWINCH, as a window's resize does).
    void Resize(int rows, int columns) {
        winsize size = {};
        size.ws_row = static_cast<unsigned short>(rows);
        size.ws_col = static_cast<unsigned short>(columns);
        ioctl(fd_, TIOCSWINSZ, &size);
    }
    // Stops reading: the program's output has nowhere to go any more.
    void CloseOutput() {
        close(fd_);
        fd_ = -1;
    }

    // Reads to the end and returns the exit code (-1 if it did not exit normally).
    int Finish(int seconds = 60) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (fd_ >= 0 && std::chrono::steady_clock::now() < deadline && ReadSome(200)) {
        }
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_) return -1;
        finished_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string& Output() const { return output_; }

  private:
    // False at the end of the output.
    bool ReadSome(int timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        int ready = poll(&p, 1, timeoutMs);
        if (ready == 0) return true;
        char buffer[4096];
        ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n <= 0) return false;  // EOF, or EIO once the terminal's other end has closed
        output_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    int fd_ = -1;
    pid_t pid_ = -1;
    bool finished_ = false;
    std::string output_;
};

struct Finished {
    int exitCode;
    std::string output;
};

inline Finished RunBrevant(const std::vector<std::string>& args,
                           const Brevant::Options& options = {}) {
    Brevant process(args, options);
    int code = process.Finish();
    return {code, process.Output()};
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// The commands of the trace that went to one device ("foreign C", "reader 0 lun 0").
inline std::vector<std::string> TraceOf(const std::string& trace, const std::string& device) {
    std::vector<std::string> lines;
    std::istringstream in(trace);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, device.size() + 1, device + ":") == 0) lines.push_back(line);
    }
    return lines;
}

// Whether a line of a trace is a command that only reads: INQUIRY, TEST UNIT READY, REQUEST
// SENSE, READ CAPACITY, READ(10) and the flash reads (bank count, select bank, device code, CIS
// page number, page with spare, redundant area, block data).
inline bool IsReadingCommand(const std::string& traceLine) {
    const std::size_t colon = traceLine.find(": ");
    if (colon == std::string::npos) return false;
    const std::string op = traceLine.substr(colon + 2, 2);
    for (const char* allowed :
         {"12", "00", "03", "25", "28", "C2", "FB", "F7", "C3", "E8", "F3", "FA"}) {
        if (op == allowed) return true;
    }
    return false;
}

inline bool HaveTool(const char* name) {
    std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

}  // namespace brevant_test
