#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "reader/scsi_port.h"
#include "sim/sim_bus.h"

// The simulated machine as a port, as Linux sees it: every unit of every device is a place, a
// node of its own, however many there are. A unit is named "sim:" and its node name when the
// description gives one (`node=stick07`: "sim:stick07"), else its drive letter ("sim:E"), else
// its ASPI address ("sim:1:0:2" for adapter 1, target 0, LUN 2). The places come in an order that
// stays while sticks are pulled and plugged: the units named by drive letter first, in letter
// order (as the drive walk goes), then all others in description order. A place whose reader is
// pulled cannot be opened and answers no command.
//
// Commands go to the bus directly. With senseWithStatus the port behaves as Linux does for a USB
// disk: after a CHECK CONDITION it asks the device for its sense data at once (the REQUEST SENSE
// shows in the trace) and hands it back with the status, so the device has none left for the
// caller.
namespace sim {

class SimPort final : public ScsiPort {
  public:
    explicit SimPort(SimBus& bus, bool senseWithStatus = true);

    // "sim:E" for the drive at letter E.
    static std::string NodeName(char letter);
    // The place named so, or PlaceCount() when there is none. A unit named by its node name
    // answers to "sim:" and its drive letter as well, when it has one.
    std::uint32_t FindPlace(const std::string& name) const;
    // The unit at a place, and the device (reader or foreign drive) it belongs to; nullptr past
    // the end.
    SimUnit* UnitAt(std::uint32_t place) const;
    SimDevice* DeviceAt(std::uint32_t place) const;

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
    struct Place {
        std::string name;
        SimDevice* device;
        std::uint8_t lun;
    };

    const Place* PlaceAt(std::uint32_t place) const;

    SimBus& bus_;
    bool senseWithStatus_;
    std::vector<Place> places_;  // every unit of the bus, plugged or not, in order
};

}  // namespace sim
