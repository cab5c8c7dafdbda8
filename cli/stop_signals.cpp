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
    // No SA_RESTART: a prompt that is waiting for an answer returns, and counts as Abort.
    action.sa_flags = 0;
    for (int signal = 1; signal < NSIG; ++signal) {
        if (sigismember(&StopSignalSet(), signal) == 1) sigaction(signal, &action, nullptr);
    }
}

int StopSignalCount() { return stopSignals; }
