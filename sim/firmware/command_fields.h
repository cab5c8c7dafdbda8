#pragma once
#include <cstdint>

// The command block bytes each command the controller knows gives a meaning to. Every other
// byte must be 0: the firmware refuses a block with stray bytes as an invalid field, so a
// command whose fields landed in the wrong place fails instead of touching some other page.

namespace sim {

// False when a byte the command does not use is set. Opcodes the controller does not know pass
// (they are refused as such).
bool OnlyUsedBytesSet(const std::uint8_t* cdb);

}  // namespace sim
