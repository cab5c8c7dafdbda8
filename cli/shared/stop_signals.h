#pragma once
#include <signal.h>

// The signals by which a user (or the system) asks a run to stop: Ctrl-C, Ctrl-\ (SIGQUIT),
// kill, a closed terminal, a timer or a CPU limit; every signal that would end the process at
// once if nobody caught it, but for those of a fault in the program itself and SIGPIPE, which the
// command line ignores (a reader of its output that goes away ends no format). They are held
// back while a command is with the kernel (KernelSgDeviceIo), so that none ends the process with
// a command under way.
sigset_t StopSignals();

// The stop signals during a format ask it to stop, as
// the dialog's Stop button does: the run ends at the next block and writes the old card
// information page back. A signal the process was started with ignored (nohup) stays ignored.
// A second signal does not cut that short; the handlers stay until the process ends.
void InstallStopSignals();
// Stop signals received since InstallStopSignals.
int StopSignalCount();
// For a process about to be started in the place of a forked child: the stop signals back to
// their defaults and none held back, whatever this process did with them.
void ResetStopSignalsForChild();
