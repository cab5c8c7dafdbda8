#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/commands/worker_pool.h"
#include "cli/shared/stop_signal_set.h"

namespace {

std::string ProgramPath() {
    char path[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string("brevant");
}

struct Worker {
    pid_t pid = -1;
    int out = -1;    // its standard output
    int words = -1;  // its standard error
    bool reaped = false;
    bool told = false;  // its end was reported
    int exitCode = -1;
    long peakKiB = 0;
};

// Reads what is there on one of a worker's pipes into `news`; closes it at its end.
void ReadPipe(int* fd, int worker, WorkerNews::Kind kind, std::vector<WorkerNews>* news) {
    char buffer[4096];
    const ssize_t n = ::read(*fd, buffer, sizeof buffer);
    if (n > 0) {
        WorkerNews said;
        said.worker = worker;
        said.kind = kind;
        said.bytes.assign(buffer, static_cast<std::size_t>(n));
        news->push_back(std::move(said));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        ::close(*fd);
        *fd = -1;
    }
}

}  // namespace

struct WorkerPool::Workers {
    std::string program = ProgramPath();
    std::vector<Worker> all;
};

WorkerPool::WorkerPool() : workers_(new Workers) {}

WorkerPool::~WorkerPool() {
    for (Worker& worker : workers_->all) {
        for (int fd : {worker.out, worker.words}) {
            if (fd >= 0) ::close(fd);
        }
    }
}

int WorkerPool::Start(const std::vector<std::string>& arguments, std::string* error) {
    int status[2];
    int words[2];
    if (::pipe2(status, O_CLOEXEC) != 0) {
        *error = std::string("no pipe for a worker: ") + std::strerror(errno);
        return -1;
    }
    if (::pipe2(words, O_CLOEXEC) != 0) {
        *error = std::string("no pipe for a worker: ") + std::strerror(errno);
        ::close(status[0]);
        ::close(status[1]);
        return -1;
    }
    const std::string& program = workers_->program;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : arguments) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        *error = std::string("no worker process: ") + std::strerror(errno);
        for (int fd : {status[0], status[1], words[0], words[1]}) ::close(fd);
        return -1;
    }
    if (pid == 0) {
        // The worker: its events and its words to the parent. It is stopped by the parent
        // alone: a group of its own keeps the terminal's Ctrl-C from it, and whatever the parent
        // did with the stop signals it starts with them as they should be.
        ::setpgid(0, 0);
        ResetStopSignalsForChild();
        ::dup2(status[1], STDOUT_FILENO);
        ::dup2(words[1], STDERR_FILENO);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, STDIN_FILENO);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(status[1]);
    ::close(words[1]);
    Worker worker;
    worker.pid = pid;
    worker.out = status[0];
    worker.words = words[0];
    workers_->all.push_back(worker);
    return static_cast<int>(workers_->all.size()) - 1;
}

std::vector<WorkerNews> WorkerPool::Wait(int milliseconds, int wake) {
    std::vector<pollfd> fds;
    std::vector<int> owners;
    std::vector<Worker>& all = workers_->all;
    for (std::size_t i = 0; i < all.size(); ++i) {
        for (int fd : {all[i].out, all[i].words}) {
            if (fd < 0) continue;
            fds.push_back(pollfd{fd, POLLIN, 0});
            owners.push_back(static_cast<int>(i));
        }
    }
    if (wake >= 0) fds.push_back(pollfd{wake, POLLIN, 0});  // the last, with no owner
    if (!fds.empty()) {
        ::poll(fds.data(), fds.size(), milliseconds);
    } else if (milliseconds > 0) {
        ::usleep(static_cast<useconds_t>(milliseconds) * 1000u);
    }
    std::vector<WorkerNews> news;
    for (std::size_t i = 0; i < owners.size(); ++i) {
        if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        Worker& worker = all[static_cast<std::size_t>(owners[i])];
        if (fds[i].fd == worker.out) {
            ReadPipe(&worker.out, owners[i], WorkerNews::Kind::Output, &news);
        } else {
            ReadPipe(&worker.words, owners[i], WorkerNews::Kind::Words, &news);
        }
    }
    for (std::size_t i = 0; i < all.size(); ++i) {
        Worker& worker = all[i];
        if (!worker.reaped) {
            int status = 0;
            rusage usage{};
            if (::wait4(worker.pid, &status, WNOHANG, &usage) == worker.pid) {
                worker.reaped = true;
                worker.peakKiB = usage.ru_maxrss;
                worker.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
        }
        // Its end is told once its last lines are in: both pipes at their end.
        if (worker.reaped && !worker.told && worker.out < 0 && worker.words < 0) {
            worker.told = true;
            WorkerNews end;
            end.worker = static_cast<int>(i);
            end.kind = WorkerNews::Kind::End;
            end.exitCode = worker.exitCode;
            end.peakKiB = worker.peakKiB;
            news.push_back(end);
        }
    }
    return news;
}

void WorkerPool::Stop(int worker) {
    if (worker < 0 || static_cast<std::size_t>(worker) >= workers_->all.size()) return;
    const Worker& one = workers_->all[static_cast<std::size_t>(worker)];
    if (!one.reaped) ::kill(one.pid, SIGINT);
}
