#pragma once
#include <atomic>
#include <cstdint>

#include "sim/sim_command.h"
#include "sim/sim_mutex.h"

// The link between the host and a device, as the simulator plays it: small decorators around
// the device (sim_command.h), each adding one thing a real link does or suffers (a pause per
// command, a command that never completes, a pulled plug, one command at a time).
//
// The fault decorators read and count in a SimLink: the machine has one for faults of the whole
// machine, and every reader (stick) one of its own. Several stacks may share one link.

namespace sim {

// What a link is set to and where its counters stand. Every member may be used while commands
// run on other threads.
class SimLink {
  public:
    // A pause per command (0: none).
    void SetLatencyMicroseconds(std::uint32_t microseconds);
    std::uint32_t LatencyMicroseconds() const;
    // After `count` more commands through the link it is pulled, as by SetPlugged(false); 0
    // cancels.
    void UnplugAfterCommands(std::uint32_t count);
    // The n-th command from now (1: the next one) never completes: Outcome::Hung, no effect.
    // 0 cancels. Later commands complete as usual.
    void HangOnCommand(std::uint32_t n);
    // The n-th command from now and every one after it never complete: the link locks up until
    // the disks behind it are power-cycled (a re-plug). 0 cancels a countdown still running.
    void HangFromCommand(std::uint32_t n);
    bool LockedUp() const;
    void ClearLockUp();
    // The n-th command from now (1: the next one) does not reach the device: it ends with CHECK
    // CONDITION, and the REQUEST SENSE that follows it on that unit hands over fixed-format
    // sense data with this key, additional sense code and qualifier (default: MEDIUM ERROR,
    // unrecovered read error 3/11h). 0 cancels. Later commands complete as usual. The sense
    // data says it carries `additionalLength` bytes after its eighth (byte 7; 10 reaches the
    // qualifier): a device may say less and still send the bytes after, which then mean nothing.
    void FailOnCommand(std::uint32_t n, std::uint8_t senseKey = 0x03, std::uint8_t asc = 0x11,
                       std::uint8_t ascq = 0x00, std::uint8_t additionalLength = 10);

    // While pulled, nothing behind the link answers (Outcome::NoDevice). SimBus's re-plug sets
    // this too and power-cycles the disks behind it; use that to plug a link back in.
    bool Plugged() const;
    void SetPlugged(bool plugged);

    // Commands that went through the link and found a device (any outcome but NoDevice).
    std::uint64_t Commands() const;

  private:
    friend class UnplugDecorator;
    friend class LatencyDecorator;
    friend class HangDecorator;
    friend class FailDecorator;

    // Takes one off a countdown that is running; true when this took it to zero.
    static bool CountDown(std::atomic<std::uint32_t>& counter);

    std::atomic<std::uint32_t> latencyMicroseconds_{0};
    std::atomic<std::uint32_t> unplugAfter_{0};
    std::atomic<std::uint32_t> hangOn_{0};
    std::atomic<std::uint32_t> hangFrom_{0};
    std::atomic<std::uint32_t> failOn_{0};
    std::atomic<std::uint32_t> failSense_{0};  // length << 24 | key << 16 | asc << 8 | ascq
    std::atomic<bool> lockedUp_{false};
    std::atomic<bool> plugged_{true};
    std::atomic<std::uint64_t> commands_{0};
};

// The end of every stack: the device executes the command on the addressed LUN.
class DeviceTarget final : public CommandTarget {
  public:
    Outcome Execute(const UnitCommand& command) override;
};

// While the link is pulled nothing answers. Counts the commands that found a device behind it
// (a command an inner pulled link refused does not count) and pulls the link once its
// unplug-after countdown runs out.
class UnplugDecorator final : public CommandDecorator {
  public:
    UnplugDecorator(CommandTarget& next, SimLink& link) : CommandDecorator(next), link_(link) {}
    Outcome Execute(const UnitCommand& command) override;

  private:
    SimLink& link_;
};

// Every command waits the link's latency before it goes on.
class LatencyDecorator final : public CommandDecorator {
  public:
    LatencyDecorator(CommandTarget& next, SimLink& link) : CommandDecorator(next), link_(link) {}
    Outcome Execute(const UnitCommand& command) override;

  private:
    SimLink& link_;
};

// The command the link's hang-on countdown names never reaches the device: it hangs. From the
// one its hang-from countdown names on, every command hangs until the link's lock-up is cleared.
class HangDecorator final : public CommandDecorator {
  public:
    HangDecorator(CommandTarget& next, SimLink& link) : CommandDecorator(next), link_(link) {}
    Outcome Execute(const UnitCommand& command) override;

  private:
    SimLink& link_;
};

// The command the link's fail-on countdown names never reaches the device: it ends with CHECK
// CONDITION, and its sense data waits here for the next command to the same unit. A REQUEST SENSE
// then gets it (and takes it); any other command but INQUIRY drops it and goes on to the device,
// as a device's pending sense is replaced by the next command's.
class FailDecorator final : public CommandDecorator {
  public:
    FailDecorator(CommandTarget& next, SimLink& link) : CommandDecorator(next), link_(link) {}
    Outcome Execute(const UnitCommand& command) override;

  private:
    SimLink& link_;
    // Kept per stack: one device's commands come through it one at a time.
    bool pending_ = false;
    std::uint8_t pendingLun_ = 0;
    std::uint32_t pendingSense_ = 0;
};

// One command at a time through this stack, as a device has one command in flight.
class SerialDecorator final : public CommandDecorator {
  public:
    SerialDecorator(CommandTarget& next, SimMutex& mutex) : CommandDecorator(next), mutex_(mutex) {}
    Outcome Execute(const UnitCommand& command) override;

  private:
    SimMutex& mutex_;
};

}  // namespace sim
