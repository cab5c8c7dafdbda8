#include "cli/stop_signals.h"

#include <signal.h>

#include <csignal>

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

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
    for (const int signal : kStopSignals) sigaction(signal, &action, nullptr);
}

sigset_t StopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kStopSignals) sigaddset(&set, signal);
    return set;
}

int StopSignalCount() { return stopSignals; }
