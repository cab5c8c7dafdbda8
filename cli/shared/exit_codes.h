#pragma once

// What `brevant` exits with, so that scripts can tell the outcomes apart.
enum ExitCode {
    kExitComplete = 0,   // the format is complete (re-plug the stick), or the command worked
    kExitFailed = 1,     // the format failed, the stick was pulled or stopped answering
    kExitUsage = 2,      // bad command line or settings file; nothing was sent to any device
    kExitCancelled = 3,  // stopped (Ctrl-C), aborted at the damaged-media question, or declined
    kExitNoDisk = 4,     // nothing to format: no rights, no reader, not ready, write-protected
    kExitCompleteUnmarkable = 5,  // complete, but bad blocks whose mark did not hold: the stick
                                  // may use them again and is not to be trusted
    // A check's verdict other than healthy, each its own status so that a script can act on it
    // as on smartctl's health bit. `format --retire-above` leaving a stick unformatted ends with
    // kExitRetire as well.
    kExitWorn = 6,
    kExitRetire = 7,
    kExitCounterfeit = 8,
};
