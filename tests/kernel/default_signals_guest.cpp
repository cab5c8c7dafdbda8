// default_signals_guest PROGRAM [ARG]...: runs PROGRAM with every signal at its default and none
// blocked. A shell without job control starts a background command with SIGINT and SIGQUIT
// ignored, and a program keeps what it inherited ignored (as under nohup); a scenario that
// stands in for the user's Ctrl-C starts the program through this, as a terminal's foreground
// job would run.
#include <signal.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: default_signals_guest PROGRAM [ARG]...\n");
        return 2;
    }
    for (int signal = 1; signal < NSIG; ++signal) {
        if (signal != SIGKILL && signal != SIGSTOP) ::signal(signal, SIG_DFL);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execvp(argv[1], argv + 1);
    std::perror(argv[1]);
    return 127;
}
