#pragma once
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

// One command on its way from a face (ASPI, pass-through, a port) to a unit of the simulated
// machine, and the interface of everything that can take one: the devices themselves, the
// faults of the link in front of them (sim_link.h) and the trace (sim_trace.h), stacked one
// around the other. A command enters at the outermost one and goes down; the outcome comes back
// up through each of them.

namespace sim {

enum class Direction { None, In, Out };

// What a command came to at the device.
enum class Outcome {
    Good,            // completed, SCSI status GOOD
    CheckCondition,  // completed, SCSI status CHECK CONDITION; sense data is pending
    NoDevice,        // nothing answers at this address (absent, or the stick was pulled)
    Hung,            // the command never completes
};

class SimDevice;

// One command for one unit: the device and LUN it is addressed to, the 12 command bytes and the
// data phase (`length` bytes of `buffer` in `direction`).
struct UnitCommand {
    SimDevice& device;
    std::uint8_t lun;
    const std::uint8_t* cdb;
    Direction direction;
    std::uint8_t* buffer;
    std::uint32_t length;
};

// Executes one command on its unit.
class CommandTarget {
  public:
    virtual ~CommandTarget() = default;
    virtual Outcome Execute(const UnitCommand& command) = 0;
};

// A decorator: does its part and hands the command to the next target down the stack.
class CommandDecorator : public CommandTarget {
  protected:
    explicit CommandDecorator(CommandTarget& next) : next_(next) {}
    CommandTarget& next_;
};

// A stack of decorators owned together; the last one added is the way in.
class CommandStack {
  public:
    template <typename Stage, typename... Args>
    CommandTarget& Add(Args&&... args) {
        stages_.emplace_back(new Stage(std::forward<Args>(args)...));
        return *stages_.back();
    }
    CommandTarget& Front() { return *stages_.back(); }

  private:
    std::vector<std::unique_ptr<CommandTarget>> stages_;
};

}  // namespace sim
