#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "reader/forwarding_port.h"

// A port that passes every command on to another and writes what came of it, one line each, to
// a stream (brevant -vv): "brevant: /dev/sg2: READ BLOCK FA 00 ... in 512: good".
class CommandEchoPort final : public ForwardingPort {
  public:
    CommandEchoPort(ScsiPort& base, std::FILE* out) : ForwardingPort(base), out_(out) {}

    CommandOutcome Execute(const PortAddress& address, const std::uint8_t* cdb,
                           std::uint8_t cdbLength, DataPhase phase, void* buffer,
                           std::uint32_t length, std::uint16_t timeoutSeconds) override;

  private:
    std::FILE* out_;
};

// What is said of one command (after the program's name).
std::string CommandEchoLine(const std::string& node, const std::uint8_t* cdb,
                            std::uint8_t cdbLength, DataPhase phase, std::uint32_t length,
                            const CommandOutcome& outcome);
