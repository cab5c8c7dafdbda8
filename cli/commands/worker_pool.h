#pragma once
#include <memory>
#include <string>
#include <vector>

// What a station's worker said or did since the station last looked.
struct WorkerNews {
    enum class Kind {
        Output,  // bytes on its standard output (its --progress json events)
        Words,   // bytes on its standard error (warnings, errors)
        End,     // it ended, and everything it wrote has come before this
    };
    int worker = -1;
    Kind kind = Kind::Output;
    std::string bytes;  // Output and Words
    int exitCode = -1;  // End: its exit status (128 + the signal that ended it, on Linux)
    long peakKiB = 0;   // End: its peak memory, where the system tells
};

// The station's worker processes, one per stick, written once per platform (worker_pool_linux.cpp:
// fork and exec, a process group of its own, pipes and poll; worker_pool_win32.cpp: CreateProcess
// with pipes read by a thread each, a stop event per worker). A worker runs this program with
// the arguments it is given; its standard output and standard error come back to the station,
// its standard input is empty, and the keyboard's Ctrl-C reaches only the station, which passes
// a stop on to each worker itself.
class WorkerPool {
  public:
    WorkerPool();
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Starts a worker running this program with `arguments` (without the program's own name).
    // Its number, or -1 with the reason.
    int Start(const std::vector<std::string>& arguments, std::string* error);
    // Waits up to `milliseconds` for news of the workers and returns what came. `wake` (Linux: a
    // descriptor, -1 for none) becomes readable to end the wait early; it is not read.
    std::vector<WorkerNews> Wait(int milliseconds, int wake);
    // Asks a running worker to stop as Ctrl-C asks a run: it ends at the next block and puts
    // its old pages back.
    void Stop(int worker);

    struct Workers;

  private:
    std::unique_ptr<Workers> workers_;
};
