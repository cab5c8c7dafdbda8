#pragma once
#include <time.h>

// Seconds on the monotonic clock: for measuring how long something took, whatever happens to
// the time of day meanwhile.
inline double MonotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}
