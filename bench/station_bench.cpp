// Figures of a shop's station: the wall time of formatting N simulated sticks at once with a
// realistic pause per command, against the time of one, and the peak memory of a worker. Each
// run must end with every stick complete (exit status 0), or it is not a figure.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr unsigned kLatencyMicroseconds = 250;
constexpr int kCounts[] = {1, 2, 4, 8, 16, 32};

struct Measured {
    bool ok = false;
    double seconds = 0;
};

// Runs brevant with the arguments, its output to /dev/null; false unless it exits 0.
Measured Run(const std::string& program, const std::vector<std::string>& args) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> argv = {const_cast<char*>(program.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Measured m;
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string program = argc > 1 ? argv[1] : std::string(BREVANT_BINARY_DIR) + "/brevant";
    const std::string dir = std::filesystem::temp_directory_path() / "brevant-station-bench";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);

    std::printf(
        "Quick formats of N simulated 64 MiB sticks at once, %u us a command "
        "(target: 32 sticks within 1.2 x the time of one):\n",
        kLatencyMicroseconds);
    std::printf("%6s %10s %8s\n", "sticks", "wall (s)", "ratio");
    double one = 0;
    bool ok = true;
    for (int n : kCounts) {
        std::string text;
        for (int i = 1; i <= n; ++i) {
            text += "reader\nunit DS node=s" + std::to_string(i) + "\nbanks 76\ncis page=0\n";
        }
        const std::string description = dir + "/station-" + std::to_string(n) + ".txt";
        std::ofstream(description) << text;
        const Measured m = Run(program, {"format", "--all", "--yes", "--simulate", description,
                                         "--sim-latency", std::to_string(kLatencyMicroseconds)});
        if (!m.ok) {
            std::printf("%6d  failed: not every stick completed\n", n);
            ok = false;
            continue;
        }
        if (n == 1) one = m.seconds;
        std::printf("%6d %10.2f %8.2f\n", n, m.seconds, one > 0 ? m.seconds / one : 0.0);
    }
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    std::printf("peak memory of the largest process (a worker, or the parent): %.1f MiB\n",
                children.ru_maxrss / 1024.0);
    std::filesystem::remove_all(dir);
    return ok ? 0 : 1;
}
