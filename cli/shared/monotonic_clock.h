#pragma once
#include <chrono>

// Seconds on the monotonic clock: for measuring how long something took, whatever happens to
// the time of day meanwhile.
inline double MonotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
