#include <signal.h>

#include <csignal>
#include <initializer_list>

#include "cli/shared/stop_signal_set.h"
#include "cli/shared/stop_signals.h"

namespace {

// The signal handler's count: the one thing a handler may write.
volatile std::sig_atomic_t stopSignals = 0;

extern "C" void OnStopSignal(int) {
    if (stopSignals < 1000) stopSignals = stopSignals + 1;
}

}  // namespace

sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM,
                       SIGPROF, SIGIO, SIGPWR, SIGXCPU}) {
        sigaddset(&signals, signal);
    }
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaddset(&signals, signal);
    return signals;
}

void InstallStopSignals() {
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a prompt that is waiting for an answer returns, and counts as Abort. A
    // command to a device is never restarted either: the signals are held back while one is
    // under way (KernelSgDeviceIo).
    action.sa_flags = 0;
    const sigset_t stops = StopSignals();
    for (int signal = 1; signal < NSIG; ++signal) {
        if (sigismember(&stops, signal) != 1) continue;
        struct sigaction before = {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
}

int StopSignalCount() { return stopSignals; }

void CountStop() { OnStopSignal(SIGINT); }

void ResetStopSignalsForChild() {
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    const sigset_t stops = StopSignals();
    for (int signal = 1; signal < NSIG; ++signal) {
        if (sigismember(&stops, signal) == 1) sigaction(signal, &fallback, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

void IgnoreOutputSignals() {
    // The run goes on and the writes to the pipe fail quietly; a file that would grow past the
    // size limit (ulimit -f) is a write that fails, and is told so.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}
