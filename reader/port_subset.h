#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "reader/scsi_port.h"

// Some of a port's places, seen as a port of their own: place i of the subset is place
// places[i] of the port underneath. A program that looks at many drives one at a time (each
// in a discovery of its own, so that every flash disk is the first unit of its discovery) runs
// the transport over one subset after another.
class PlaceSubsetPort final : public ScsiPort {
  public:
    PlaceSubsetPort(ScsiPort& base, std::vector<std::uint32_t> places)
        : base_(base), places_(std::move(places)) {}

    // The place of the underlying port; kNoBasePlace past the end.
    static constexpr std::uint32_t kNoBasePlace = 0xFFFFFFFFu;
    std::uint32_t BasePlace(std::uint32_t place) const {
        return place < places_.size() ? places_[place] : kNoBasePlace;
    }

    const char* Name() const override { return base_.Name(); }
    PortShape Shape() const override { return base_.Shape(); }
    std::uint32_t PlaceCount() const override { return static_cast<std::uint32_t>(places_.size()); }
    std::string PlaceName(std::uint32_t place) const override {
        return place < places_.size() ? base_.PlaceName(places_[place]) : std::string();
    }
    bool Open(std::uint32_t place) override {
        return place < places_.size() && base_.Open(places_[place]);
    }
    void Close(std::uint32_t place) override {
        if (place < places_.size()) base_.Close(places_[place]);
    }
    CommandOutcome Execute(const PortAddress& address, const std::uint8_t* cdb,
                           std::uint8_t cdbLength, DataPhase phase, void* buffer,
                           std::uint32_t length, std::uint16_t timeoutSeconds) override {
        if (address.place >= places_.size()) return CommandOutcome{};
        return base_.Execute(PortAddress{places_[address.place], address.lun}, cdb, cdbLength,
                             phase, buffer, length, timeoutSeconds);
    }
    bool SenseComesWithStatus() const override { return base_.SenseComesWithStatus(); }
    void FirstReaderFound(std::uint32_t place) override {
        if (place < places_.size()) base_.FirstReaderFound(places_[place]);
    }
    bool ResetsAfterTimeOut() const override { return base_.ResetsAfterTimeOut(); }
    std::uint32_t MaxTransfer(std::uint32_t place) const override {
        return place < places_.size() ? base_.MaxTransfer(places_[place]) : kMaxTransfer;
    }
    PlacePresence AwaitPresence(std::uint32_t place, std::uint32_t milliseconds) override {
        return place < places_.size() ? base_.AwaitPresence(places_[place], milliseconds)
                                      : PlacePresence::Unknown;
    }

  private:
    ScsiPort& base_;
    std::vector<std::uint32_t> places_;
};
