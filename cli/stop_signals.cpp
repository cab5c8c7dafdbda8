#include "cli/stop_signals.h"

#include <signal.h>

#include <csignal>

#include "reader/sgio.h"

namespace {

volatile std::sig_atomic_t stopSignals = 0;

extern "C" void OnStopSignal(int) {
    if (stopSignals < 1000) stopSignals = stopSignals + 1;
}

}  // namespace

void InstallStopSignals() {
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a prompt that is waiting for an answer returns, and counts as Abort. A
    // command to a device is never restarted either: the signals are held back while one is
    // under way (WithStopSignalsHeld).
    action.sa_flags = 0;
    for (int signal = 1; signal < NSIG; ++signal) {
        if (sigismember(&StopSignalSet(), signal) != 1) continue;
        struct sigaction before = {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
}

int StopSignalCount() { return stopSignals; }

void ResetStopSignalsForChild() {
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    for (int signal = 1; signal < NSIG; ++signal) {
        if (sigismember(&StopSignalSet(), signal) == 1) sigaction(signal, &fallback, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}
