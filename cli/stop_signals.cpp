#include "cli/stop_signals.h"

#include <signal.h>

#include <csignal>

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
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

int StopSignalCount() { return stopSignals; }
