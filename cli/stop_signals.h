#pragma once
#include <signal.h>

// Ctrl-C (SIGINT), SIGTERM and SIGHUP during a format ask it to stop, as the dialog's Stop
// button does: the run ends at the next block and writes the old card information page back.
// A second signal does not cut that short; the handlers stay until the process ends.
void InstallStopSignals();
// Stop signals received since InstallStopSignals.
int StopSignalCount();
// The stop signals as a set, for holding them back (sigprocmask) where they must not be lost.
sigset_t StopSignalSet();
