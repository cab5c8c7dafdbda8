#pragma once

// What a user (or the system) does to ask a run to stop. On Linux: Ctrl-C, Ctrl-\ (SIGQUIT),
// kill, a closed terminal, a timer or a CPU limit; every signal that would end the process at
// once if nobody caught it, but for those of a fault in the program itself and SIGPIPE, which the
// command line ignores (a reader of its output that goes away ends no format); they are held
// back while a command is with the kernel (KernelSgDeviceIo), so that none ends the process with
// a command under way. On Windows: Ctrl-C, Ctrl-Break and the console window closed (or the
// user logging off, the system shutting down), through a console control handler.
//
// A stop during a format asks it to stop, as the dialog's Stop button does: the run ends at the
// next block and writes the old card information page back. A signal the process was started
// with ignored (nohup) stays ignored. A second stop does not cut that short; the handlers stay
// until the process ends.
void InstallStopSignals();
// Stops asked for since InstallStopSignals.
int StopSignalCount();
// A stop asked for by other means (a station's worker told by its station), counted as one of
// the above.
void CountStop();

// Before anything else: a reader of the output that goes away (brevant ... | head) must not end
// the process in the middle of a format, nor a file that would grow past the size limit.
void IgnoreOutputSignals();
