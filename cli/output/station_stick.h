#pragma once
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/output/progress_stream.h"
#include "cli/shared/device_identity.h"

// One stick of a shop's station as the parent knows it: the stick, its worker and what the
// worker has said so far.
struct StationStick {
    DeviceIdentity identity;
    std::uint32_t place = 0;  // the machine port's place of its node
    std::string sizeText;     // its size before, as the confirmation names it
    std::string counterfeit;  // "counterfeit: announces ..., its flash holds ...", or empty
    std::optional<std::uint32_t> previousBad;  // bad blocks at its last whole run (history)
    std::string fileName;  // its files' name, unique in the session (StickFileName, -2, -3...)
    pid_t pid = -1;
    int statusFd = -1;
    std::string pending;  // a status line not yet whole
    int wordsFd = -1;     // the worker's standard error
    std::string wordsPending;
    std::vector<std::string> words;  // the last lines the worker wrote on it
    WorkerStatus status;
    bool exited = false;
    int exitCode = -1;
    long peakKiB = 0;  // the worker's peak memory
    double started = 0;
    double seconds = 0;
    std::string reportFile;
};

// Whether everything the stick's worker said has been read: it has ended and its pipes are at
// their end. Until then its last lines may still be on their way.
bool WorkerHeard(const StationStick& stick);
