#pragma once
#include <string>

#include "sim/sim_flash_disk.h"

// A flash disk's contents (its raw pages and logical sectors) kept in a file, so that a stick
// outlives the process that simulates it: the next program finds it as the last one left it.
namespace sim {

// Replaces the file whole (a temporary file renamed over it). False when it cannot be written.
bool SaveDiskState(const SimFlashDisk& disk, const std::string& path);

// Loads the file into the disk; a file that is not there leaves the disk as described (true).
// False with a reason for a file of another disk or a damaged one.
bool LoadDiskState(SimFlashDisk& disk, const std::string& path, std::string* error);

}  // namespace sim

#include <chrono>

#include "reader/forwarding_port.h"

namespace sim {

// A port that keeps a disk's state file up to date while the commands go through it: after a
// command, when a while has passed since the last save, and once more when it is done with. A
// process killed outright leaves the stick as it was a moment before.
class StateKeepingPort final : public ForwardingPort {
  public:
    StateKeepingPort(ScsiPort& port, const SimFlashDisk& disk, std::string path,
                     std::chrono::milliseconds interval = std::chrono::milliseconds(100));
    ~StateKeepingPort() override;

    CommandOutcome Execute(const PortAddress& address, const std::uint8_t* cdb,
                           std::uint8_t cdbLength, DataPhase phase, void* buffer,
                           std::uint32_t length, std::uint16_t timeoutSeconds) override;

  private:
    const SimFlashDisk& disk_;
    std::string path_;
    std::chrono::milliseconds interval_;
    std::chrono::steady_clock::time_point lastSave_;
    bool changed_ = false;
};

}  // namespace sim
