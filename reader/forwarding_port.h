#pragma once
#include <cstdint>
#include <string>

#include "reader/scsi_port.h"

// A port in front of another that hands everything on to it: the base of a port that adds
// something to each command (a record, an echo, a saved state) and overrides only that.
class ForwardingPort : public ScsiPort {
  public:
    explicit ForwardingPort(ScsiPort& base) : base_(base) {}

    const char* Name() const override { return base_.Name(); }
    PortShape Shape() const override { return base_.Shape(); }
    std::uint32_t PlaceCount() const override { return base_.PlaceCount(); }
    std::string PlaceName(std::uint32_t place) const override { return base_.PlaceName(place); }
    bool Open(std::uint32_t place) override { return base_.Open(place); }
    void Close(std::uint32_t place) override { base_.Close(place); }
    CommandOutcome Execute(const PortAddress& address, const std::uint8_t* cdb,
                           std::uint8_t cdbLength, DataPhase phase, void* buffer,
                           std::uint32_t length, std::uint16_t timeoutSeconds) override {
        return base_.Execute(address, cdb, cdbLength, phase, buffer, length, timeoutSeconds);
    }
    bool SenseComesWithStatus() const override { return base_.SenseComesWithStatus(); }
    void FirstReaderFound(std::uint32_t place) override { base_.FirstReaderFound(place); }
    std::uint32_t MaxTransfer(std::uint32_t place) const override {
        return base_.MaxTransfer(place);
    }
    bool ResetsAfterTimeOut() const override { return base_.ResetsAfterTimeOut(); }
    PlacePresence AwaitPresence(std::uint32_t place, std::uint32_t milliseconds) override {
        return base_.AwaitPresence(place, milliseconds);
    }

  protected:
    ScsiPort& base_;
};
