// pty_guest PIDFILE PROGRAM [ARG]...: runs PROGRAM on a pseudo-terminal of its own, as a
// terminal's foreground job: its standard input, output and error are the terminal, every signal
// is at its default and none is blocked. What it writes is copied to this program's standard
// output; PROGRAM's process id goes to PIDFILE, so that a scenario can resize "its terminal"
// (SIGWINCH) or stop and continue it. Exits with PROGRAM's status. The kernel rig's guest has no
// such program of its own, and a program shows a progress line only on a terminal.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

void DefaultSignals() {
    for (int signal = 1; signal < NSIG; ++signal) {
        if (signal != SIGKILL && signal != SIGSTOP) ::signal(signal, SIG_DFL);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: pty_guest PIDFILE PROGRAM [ARG]...\n");
        return 2;
    }
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("pty_guest: a pseudo-terminal");
        return 2;
    }
    const char* slaveName = ::ptsname(master);
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("pty_guest: fork");
        return 2;
    }
    if (child == 0) {
        ::setsid();
        const int slave = ::open(slaveName, O_RDWR);
        if (slave < 0) _exit(126);
        ::ioctl(slave, TIOCSCTTY, 0);
        winsize size = {};
        size.ws_row = 24;
        size.ws_col = 100;
        ::ioctl(slave, TIOCSWINSZ, &size);
        for (int fd = 0; fd < 3; ++fd) ::dup2(slave, fd);
        if (slave > 2) ::close(slave);
        ::close(master);
        DefaultSignals();
        ::execvp(argv[2], argv + 2);
        std::perror(argv[2]);
        _exit(127);
    }
    if (FILE* pidFile = std::fopen(argv[1], "w")) {
        std::fprintf(pidFile, "%d\n", static_cast<int>(child));
        std::fclose(pidFile);
    }
    // The terminal's output, until the program's end closes it (EIO).
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got > 0) {
            if (::write(STDOUT_FILENO, buffer, static_cast<std::size_t>(got)) < 0) break;
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        break;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
