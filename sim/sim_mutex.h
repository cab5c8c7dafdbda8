#pragma once

#if !defined(_WIN32)
#include <mutex>
#endif

namespace sim {

// Commands to different readers may run on different threads at once. The simulator's
// WNASPI32.DLL takes one lock around every call itself, so inside it no lock is needed (and the
// Windows tool chain has no std::mutex).
#if defined(_WIN32)
class SimMutex {
  public:
    void lock() {}
    void unlock() {}
};
#else
using SimMutex = std::mutex;
#endif

// Holds a SimMutex for its scope (std::lock_guard is not there on that tool chain either).
class SimLockGuard {
  public:
    explicit SimLockGuard(SimMutex& mutex) : mutex_(mutex) { mutex_.lock(); }
    ~SimLockGuard() { mutex_.unlock(); }
    SimLockGuard(const SimLockGuard&) = delete;
    SimLockGuard& operator=(const SimLockGuard&) = delete;

  private:
    SimMutex& mutex_;
};

}  // namespace sim
