#pragma once
#include <cstdint>
#include <string>

#include "reader/media_type.h"

// What the program learns about a unit before it offers to format it, asked the way the dialog
// asks: readiness (a unit attention counts as ready), the capacity, and write protection.
struct DiskState {
    bool ready = false;
    bool capacityKnown = false;  // READ CAPACITY worked and the size is one a disk can have
    std::uint32_t lastBlock = 0;
    bool writeProtectionProbed = false;
    bool writeProtected = false;
};

// probeWriteProtection: also find out whether the medium refuses writes (this writes back a
// sector or page it has just read).
DiskState ProbeDisk(MediaType unit, bool probeWriteProtection);

// "61.0 MB  125056 sectors", or "Media is not formatted." when the size is unknown.
std::string CapacityText(const DiskState& state);
