#include "format/disk_probe.h"

#include "core/status_texts.h"
#include "core/string_table.h"
#include "reader/sense.h"

DiskState ProbeDisk(DeviceAccess& device, MediaType unit, bool probeWriteProtection) {
    DiskState state;
    device.GetSenseStatus(unit);  // clears whatever an earlier command left pending
    state.ready =
        device.TestUnitReady(unit) != 0 || device.GetSenseStatus(unit) == SenseUnitAttention;
    if (!state.ready) return state;
    std::uint8_t reply[8] = {};
    if (device.ReadCapacity(unit, reply) != 0) {
        state.capacityRead = true;
        state.lastBlock = BigEndian32(reply);
    }
    if (probeWriteProtection) {
        state.writeProtectionProbed = true;
        state.writeProtected = device.IsWriteProtected(unit);
    }
    return state;
}

std::string CapacityText(const DiskState& state) {
    return state.capacityRead ? CapacityText(state.lastBlock) : AppString(IDS_NOT_FORMATTED);
}
