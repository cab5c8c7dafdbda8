#pragma once
#include <string>

#include "reader/scsi_port.h"
#include "sim/sim_bus.h"

// The simulated machine as a port: its drives, in letter order, are the places. Commands go to
// the bus directly. With senseWithStatus the port behaves as Linux does for a USB disk: after a
// CHECK CONDITION it asks the device for its sense data at once (the REQUEST SENSE shows in the
// trace) and hands it back with the status, so the device has none left for the caller.
namespace sim {

class SimPort final : public ScsiPort {
  public:
    explicit SimPort(SimBus& bus, bool senseWithStatus = true);

    // "sim:E" for the drive at letter E.
    static std::string NodeName(char letter);

    const char* Name() const override { return "simulator"; }
    PortShape Shape() const override { return PortShape::Drives; }
    std::uint32_t PlaceCount() const override;
    std::string PlaceName(std::uint32_t place) const override;
    bool Open(std::uint32_t place) override;
    void Close(std::uint32_t place) override;
    CommandOutcome Execute(const PortAddress& address, const std::uint8_t* cdb,
                           std::uint8_t cdbLength, DataPhase phase, void* buffer,
                           std::uint32_t length, std::uint16_t timeoutSeconds) override;
    bool SenseComesWithStatus() const override { return senseWithStatus_; }

  private:
    char LetterOf(std::uint32_t place) const;

    SimBus& bus_;
    bool senseWithStatus_;
    std::string letters_;  // the bus's drives, plugged or not, in order
};

}  // namespace sim
