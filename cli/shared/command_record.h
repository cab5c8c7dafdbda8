#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "reader/forwarding_port.h"

// A port that passes every command on to another and keeps a record of what it sent, one line
// per command, in the simulated machine's trace format with the node in front:
//
//   /dev/sg2: E8 20 60 00 00 01 00 00 00 00 00 00 in 528 good
//
// The command bytes are always shown as twelve (a shorter block padded with zeros, as the
// controller receives it); the outcome is good, check-condition, failed, no-device, host-error or
// timed-out.
// Each line reaches the file before the command's outcome goes back up, so a record cut short by a
// kill still holds every command that reached the device. brevant --trace on real devices, so that
// what a stick received can be held against what the program sent.
class CommandRecordPort final : public ForwardingPort {
  public:
    // Records into `out`, which the port closes.
    CommandRecordPort(ScsiPort& base, std::FILE* out) : ForwardingPort(base), out_(out) {}

    ~CommandRecordPort() override;
    CommandRecordPort(const CommandRecordPort&) = delete;
    CommandRecordPort& operator=(const CommandRecordPort&) = delete;

    // Closes the record; true when every line reached the file.
    bool Finish();

    CommandOutcome Execute(const PortAddress& address, const std::uint8_t* cdb,
                           std::uint8_t cdbLength, DataPhase phase, void* buffer,
                           std::uint32_t length, std::uint16_t timeoutSeconds) override;

  private:
    std::FILE* out_;
    bool failed_ = false;
};

// The line recorded for one command (without its line feed).
std::string CommandRecordLine(const std::string& node, const std::uint8_t* cdb,
                              std::uint8_t cdbLength, DataPhase phase, std::uint32_t length,
                              CommandStatus status);
