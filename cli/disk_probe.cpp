#include "cli/disk_probe.h"

#include <cstdio>

#include "core/string_table.h"
#include "format/block_probes.h"
#include "reader/commands.h"
#include "reader/sense.h"

namespace {

// The sizes a formatted disk can report: last block address 250 to 2048000.
constexpr std::uint32_t kLowestLastBlock = 250;
constexpr std::uint32_t kHighestLastBlock = 2048000;

}  // namespace

DiskState ProbeDisk(MediaType unit, bool probeWriteProtection) {
    DiskState state;
    GetSenseStatus(unit);  // clears whatever an earlier command left pending
    state.ready = TestUnitReady(unit) == 1 || GetSenseStatus(unit) == SenseUnitAttention;
    if (!state.ready) return state;
    std::uint8_t reply[8] = {};
    if (ReadCapacity(unit, reply) == 1) {
        state.lastBlock = BigEndian32(reply);
        state.capacityKnown =
            state.lastBlock >= kLowestLastBlock && state.lastBlock <= kHighestLastBlock;
    }
    if (probeWriteProtection) {
        state.writeProtectionProbed = true;
        state.writeProtected = IsWriteProtected(unit);
    }
    return state;
}

std::string CapacityText(const DiskState& state) {
    if (!state.capacityKnown) return AppString(IDS_NOT_FORMATTED);
    // Sectors / 2048 is the size in MB; the tenth is truncated, not rounded.
    std::uint32_t sectors = state.lastBlock + 1;
    double size = static_cast<double>(sectors) * 512 / 1024 / 1024;
    unsigned whole = static_cast<unsigned>(size) & 0xFFFF;
    unsigned tenth = static_cast<unsigned>((size - static_cast<unsigned>(size)) * 10) & 0xFF;
    char text[80];
    std::snprintf(text, sizeof text, "%u.%u MB  %u %s", whole, tenth, sectors,
                  AppString(IDS_SECTORS));
    return text;
}
