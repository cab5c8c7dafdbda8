#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/machine/control_folder.h"
#include "sim/sim_bus.h"

// What runs before every command and every presence check of a machine: the pulls and plugs of
// its schedule that are due, and a look into its control folder when its time has come. It costs
// one atomic load while nothing is pending.

namespace sim {

class PlugSchedule {
  public:
    explicit PlugSchedule(SimBus& bus);

    // A pull or plug of one reader (or of SimBus::kWholeMachine) once `when` has come.
    void Add(std::size_t reader, bool plugIn, SimBus::PlugMoment when);
    // The wall clock the schedule reads; time 0 is its value now.
    void SetClock(std::function<std::uint64_t()> nowMilliseconds);
    // The control folder looked into at most every `pollMilliseconds`.
    void Follow(const std::string& folder, std::uint32_t pollMilliseconds);
    // Does what is due.
    void RunDue();

  private:
    struct Event {
        std::size_t reader;
        bool plugIn;
        SimBus::PlugMoment when;
        bool done;
    };

    void Arm();
    bool Due(const Event& event, std::uint64_t now) const;

    SimBus& bus_;
    std::atomic<bool> armed_{false};
    SimMutex mutex_;
    std::function<std::uint64_t()> clock_;
    std::uint64_t origin_ = 0;
    std::vector<Event> events_;
    std::unique_ptr<ControlFolder> control_;
    std::uint32_t pollMilliseconds_ = 0;
    std::uint64_t nextPoll_ = 0;
};

}  // namespace sim
