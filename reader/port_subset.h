#pragma once
#include <cstdint>
#include <vector>

#include "reader/forwarding_port.h"

// Some of a port's places, seen as a port of their own: place i of the subset is place
// places[i] of the port underneath. A program that looks at many drives one at a time (each
// in a discovery of its own, so that every flash disk is the first unit of its discovery) gives
// each drive a reader over a subset of its own.
class PlaceSubsetPort final : public ForwardingPort {
  public:
    PlaceSubsetPort(ScsiPort& base, std::vector<std::uint32_t> places)
        : ForwardingPort(base), places_(std::move(places)) {}

    std::uint32_t BasePlace(std::uint32_t place) const override {
        return place < places_.size() ? places_[place] : kNoBasePlace;
    }
    std::uint32_t PlaceCount() const override { return static_cast<std::uint32_t>(places_.size()); }

  private:
    std::vector<std::uint32_t> places_;
};
