#pragma once
#include <cstdint>
#include <string>

#include "reader/scsi_port.h"

// A port in front of another that hands everything on to it: the base of a port that adds
// something to each command (a record, an echo, a saved state) and overrides only that. A port
// that shows another's places under numbers of its own overrides PlaceCount and BasePlace; every
// operation on a place then reaches the place underneath.
class ForwardingPort : public ScsiPort {
  public:
    explicit ForwardingPort(ScsiPort& base) : base_(base) {}

    // The place of the port underneath that `place` of this one is; a place the port underneath
    // does not have (kNoBasePlace) for one that this port does not have.
    static constexpr std::uint32_t kNoBasePlace = 0xFFFFFFFFu;
    virtual std::uint32_t BasePlace(std::uint32_t place) const { return place; }

    const char* Name() const override { return base_.Name(); }
    PortShape Shape() const override { return base_.Shape(); }
    std::uint32_t PlaceCount() const override { return base_.PlaceCount(); }
    std::string PlaceName(std::uint32_t place) const override {
        return base_.PlaceName(BasePlace(place));
    }
    bool Open(std::uint32_t place) override { return base_.Open(BasePlace(place)); }
    void Close(std::uint32_t place) override { base_.Close(BasePlace(place)); }
    CommandOutcome Execute(const PortAddress& address, const std::uint8_t* cdb,
                           std::uint8_t cdbLength, DataPhase phase, void* buffer,
                           std::uint32_t length, std::uint16_t timeoutSeconds) override {
        return base_.Execute(PortAddress{BasePlace(address.place), address.lun}, cdb, cdbLength,
                             phase, buffer, length, timeoutSeconds);
    }
    bool SenseComesWithStatus() const override { return base_.SenseComesWithStatus(); }
    void ReaderFound(std::uint32_t place) override { base_.ReaderFound(BasePlace(place)); }
    bool ResetsAfterTimeOut() const override { return base_.ResetsAfterTimeOut(); }
    std::uint32_t MaxTransfer(std::uint32_t place) const override {
        return base_.MaxTransfer(BasePlace(place));
    }
    PlacePresence AwaitPresence(std::uint32_t place, std::uint32_t milliseconds) override {
        return base_.AwaitPresence(BasePlace(place), milliseconds);
    }

  protected:
    ScsiPort& base_;
};
