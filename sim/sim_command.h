#pragma once
#include <cstdint>
#include <string>

// One command on its way from a face (ASPI, pass-through, a port) to a unit of the simulated
// machine, and the interface of everything that can take one: the devices themselves and the
// faults of the link in front of them (sim_link.h), stacked one around the other.

namespace sim {

enum class Direction { None, In, Out };

// What a command came to at the device.
enum class Outcome {
    Good,            // completed, SCSI status GOOD
    CheckCondition,  // completed, SCSI status CHECK CONDITION; sense data is pending
    NoDevice,        // nothing answers at this address (absent, or the stick was pulled)
    Hung,            // the command never completes
};

struct TraceEntry {
    std::string device;    // "reader 0 lun 1", "foreign C", ...
    std::uint8_t cdb[12];  // the command bytes as received
    Direction direction;
    std::uint32_t length;  // data phase length as requested
    Outcome outcome;
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

}  // namespace sim
