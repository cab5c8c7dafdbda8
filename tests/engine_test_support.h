#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "format/physical_format.h"
#include "sim/sim_bus.h"
#include "tests/fake_run.h"
#include "tests/format_sim_disk.h"

// Helpers shared by the format engine's scenario tests.

namespace format_test {

// The absolute page a raw-flash command block names (0xFFFFFFFF for other commands).
inline std::uint32_t PageOfCommand(const std::uint8_t* cdb) {
    switch (cdb[0]) {
        case 0xE8:
        case 0xF3:
        case 0xFA:
            return cdb[2] | cdb[3] << 8 | cdb[4] << 16;
        case 0xF1:
        case 0xF2:
            return cdb[2] | cdb[3] << 8 | cdb[4] << 16 | std::uint32_t{cdb[5]} << 24;
        case 0xE9:
        case 0xC1:
            return cdb[7] | cdb[8] << 8 | cdb[9] << 16 | std::uint32_t{cdb[10]} << 24;
        default:
            return 0xFFFFFFFFu;
    }
}

// The opcodes the disk received for pages of [firstPage, firstPage + pages), in order.
inline std::vector<std::uint8_t> OpcodesForPages(const sim::SimBus& bus, std::uint32_t firstPage,
                                                 std::uint32_t pages) {
    std::vector<std::uint8_t> ops;
    for (const sim::TraceEntry& e : bus.Trace()) {
        const std::uint32_t page = PageOfCommand(e.cdb);
        if (page >= firstPage && page < firstPage + pages) ops.push_back(e.cdb[0]);
    }
    return ops;
}

inline std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24;
}

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace format_test
