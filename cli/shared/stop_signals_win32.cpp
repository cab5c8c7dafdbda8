#include <windows.h>

#include <atomic>

#include "cli/shared/stop_signals.h"

namespace {

// The console control handler's count. The handler runs on a thread of its own that the system
// starts for each event.
std::atomic<int> stopEvents{0};

BOOL WINAPI OnConsoleControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            if (stopEvents.load() < 1000) ++stopEvents;
            // Handled: the process goes on to the next block and puts the old pages back. A
            // closed console ends the process once this returns, so that one waits here for
            // the run to get there, for as long as the system allows (about five seconds).
            if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(INFINITE);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void InstallStopSignals() {
    static const bool installed = SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
    (void)installed;
}

int StopSignalCount() { return stopEvents.load(); }

void CountStop() {
    if (stopEvents.load() < 1000) ++stopEvents;
}

// A Windows process has no broken-pipe or file-size signal: a write that fails says so.
void IgnoreOutputSignals() {}
