#include "format/block_probes.h"
#include "format/device_access.h"
#include "format/physical_format.h"
#include "reader/commands.h"
#include "reader/sense.h"
#include "reader/transport.h"
#include "reader/units.h"

namespace {

class ReaderAccess final : public DeviceAccess {
  public:
    int OpenTransport() override { return ::OpenTransport(); }
    void DiscoverUnits(std::uint8_t* count, MediaType keys[3]) override {
        ::DiscoverUnits(count, keys);
    }
    int TestUnitReady(MediaType unit) override { return ::TestUnitReady(unit); }
    SenseStatus GetSenseStatus(MediaType unit) override { return ::GetSenseStatus(unit); }
    int ReadCapacity(MediaType unit, std::uint8_t reply[8]) override {
        return ::ReadCapacity(unit, reply);
    }
    int StopUnit(MediaType unit) override { return ::StopUnit(unit); }
    bool IsWriteProtected(MediaType unit) override { return ::IsWriteProtected(unit); }
    FormatResult RunPhysicalFormat(RunInterface& run, MediaType unit, FormatMode mode) override {
        return ::RunPhysicalFormat(run, unit, mode);
    }
    void CloseTransport() override { ::CloseTransport(); }
};

}  // namespace

DeviceAccess& ReaderDeviceAccess() {
    static ReaderAccess reader;
    return reader;
}
