#pragma once
#include <signal.h>

// The stop signals as a set (Linux): what is held back while a command is with the kernel
// (KernelSgDeviceIo) and let in only while a prompt waits.
sigset_t StopSignals();

// For a process about to be started in the place of a forked child: the stop signals back to
// their defaults and none held back, whatever this process did with them.
void ResetStopSignalsForChild();
