#pragma once

// What `brevant` exits with, so that scripts can tell the outcomes apart.
enum ExitCode {
    kExitComplete = 0,   // the format is complete (re-plug the stick), or the listing worked
    kExitFailed = 1,     // the format failed, or the stick was pulled during it
    kExitUsage = 2,      // bad command line or settings file; nothing was sent to any device
    kExitCancelled = 3,  // stopped (Ctrl-C), aborted at the damaged-media prompt, or declined
    kExitNoDisk = 4,     // nothing to format: no rights, no reader, not ready, write-protected
};
