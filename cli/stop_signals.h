#pragma once

// The stop signals (StopSignalSet: Ctrl-C, Ctrl-\, SIGTERM, SIGHUP, SIGUSR1, SIGALRM, ... every
// signal that would otherwise end the process on the spot) during a format ask it to stop, as
// the dialog's Stop button does: the run ends at the next block and writes the old card
// information page back. A signal the process was started with ignored (nohup) stays ignored.
// A second signal does not cut that short; the handlers stay until the process ends.
void InstallStopSignals();
// Stop signals received since InstallStopSignals.
int StopSignalCount();
// For a process about to be started in the place of a forked child: the stop signals back to
// their defaults and none held back, whatever this process did with them.
void ResetStopSignalsForChild();
