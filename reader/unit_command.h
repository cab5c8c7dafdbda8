#pragma once
#include <cstdint>

#include "reader/media_type.h"

// The one place where a command for a unit meets a back-end: the command set hands over the
// 12-byte block, the direction, the length and the time-out, and this picks the active back-end,
// its direction encoding and the unit's address.

enum class DataDirection { None, In, Out };

// Sends `cdb` to the unit `key`. Returns 1 on success, 0 on failure. A key that is not in the
// unit table fails without anything being sent.
int SendUnitCommand(MediaType key, const std::uint8_t* cdb, void* buffer, std::uint32_t length,
                    DataDirection direction, std::uint16_t timeoutSeconds);
