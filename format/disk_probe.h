#pragma once
#include <cstdint>
#include <string>

#include "format/device_access.h"
#include "reader/media_type.h"

// What a front end learns about a unit before it offers to format it.
struct DiskState {
    bool ready = false;         // TEST UNIT READY passed, or the sense was a unit attention
    bool capacityRead = false;  // READ CAPACITY answered; lastBlock holds its address
    std::uint32_t lastBlock = 0;
    bool writeProtectionProbed = false;
    bool writeProtected = false;
};

// The probe of the dialog, in its order: the pending sense cleared, TEST UNIT READY, the sense
// again when the unit is not ready (a unit attention counts as ready); for a ready unit READ
// CAPACITY and, with probeWriteProtection, the write-protect probe (which writes back a sector
// or page it has just read). A unit that is not ready is asked nothing more.
DiskState ProbeDisk(DeviceAccess& device, MediaType unit, bool probeWriteProtection);

// CapacityText of the last block address read, "Media is not formatted." when READ CAPACITY did
// not answer: a failed read leaves no size worth showing.
std::string CapacityText(const DiskState& state);
