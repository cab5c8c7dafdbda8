#pragma once
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
    std::string fileName;      // its files' name, unique in the session (StickFileName, -2, -3...)
    int worker = -1;           // its worker's number in the station's WorkerPool
    std::string pending;       // a status line not yet whole
    std::string wordsPending;  // a line of the worker's standard error not yet whole
    std::vector<std::string> words;  // the last lines the worker wrote on it
    WorkerStatus status;
    bool exited = false;  // its worker ended (or never started) and all it said is in
    int exitCode = -1;
    long peakKiB = 0;  // the worker's peak memory
    double started = 0;
    double seconds = 0;
    std::string reportFile;
};

// Whether everything the stick's worker said has been read: it has ended and its last lines
// are in.
bool WorkerHeard(const StationStick& stick);
