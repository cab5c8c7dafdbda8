#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "reader/scsi_port.h"

// A port that passes every command on to another and writes what came of it, one line each, to
// a stream (brevant -vv): "brevant: /dev/sg2: READ BLOCK FA 00 ... in 512: good".
class CommandEchoPort final : public ScsiPort {
  public:
    CommandEchoPort(ScsiPort& base, std::FILE* out) : base_(base), out_(out) {}

    const char* Name() const override { return base_.Name(); }
    PortShape Shape() const override { return base_.Shape(); }
    std::uint32_t PlaceCount() const override { return base_.PlaceCount(); }
    std::string PlaceName(std::uint32_t place) const override { return base_.PlaceName(place); }
    bool Open(std::uint32_t place) override { return base_.Open(place); }
    void Close(std::uint32_t place) override { base_.Close(place); }
    CommandOutcome Execute(const PortAddress& address, const std::uint8_t* cdb,
                           std::uint8_t cdbLength, DataPhase phase, void* buffer,
                           std::uint32_t length, std::uint16_t timeoutSeconds) override;
    bool SenseComesWithStatus() const override { return base_.SenseComesWithStatus(); }
    void FirstReaderFound(std::uint32_t place) override { base_.FirstReaderFound(place); }

  private:
    ScsiPort& base_;
    std::FILE* out_;
};

// The line written for one command.
std::string CommandEchoLine(const std::string& node, const std::uint8_t* cdb,
                            std::uint8_t cdbLength, DataPhase phase, std::uint32_t length,
                            const CommandOutcome& outcome);
