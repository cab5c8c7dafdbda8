#pragma once
#include <cstdint>

#include "reader/media_type.h"
#include "reader/os_layer.h"

// The reader's units (its media slots, or its own flash disk), each named by its MediaType key.
// Discovery fills the table; every command turns a key back into an address through it: a LUN
// under ASPI, an open drive handle under pass-through.

constexpr std::uint8_t kMaxUnits = 3;
constexpr std::uint8_t kNoLun = 255;

struct UnitEntry {
    OsHandle handle = nullptr;  // owned by the table
    MediaType key = kMediaNone;
    char letter = 0;  // the drive letter it was opened through
};

struct UnitTable {
    MediaType keys[kMaxUnits] = {kMediaNone, kMediaNone, kMediaNone};  // ASPI: position = LUN
    std::uint8_t count = 0;
    UnitEntry entries[kMaxUnits];  // pass-through only, in the order found
};

// The unit table (read-only outside reader/).
const UnitTable& Units();

// Refreshes the table and reports the unit count and the keys in unit order. outKeys has room
// for three keys; only the first *outCount are written.
void DiscoverUnits(std::uint8_t* outCount, MediaType* outKeys);

// 1 if the cached units are still there, 0 if not (or if there are none).
int UnitsStillPresent();

// The LUN of `key` under ASPI; 255 if it is not in the table.
std::uint8_t LunOfUnit(MediaType key);
// The drive handle of `key` under pass-through; nullptr if it is not in the table.
OsHandle HandleOfUnit(MediaType key);

// Closes every entry handle and empties the table (used when the transport closes).
void ReleaseUnits();

// The medium code of an INQUIRY reply turned into a key: "DS" -> 8 + unitsBefore, "CF" -> 1,
// "SM" -> 2, "MM" -> 4, anything else 255. `reply` holds at least 40 bytes.
MediaType KeyOfInquiry(const std::uint8_t* reply, std::uint8_t unitsBefore);
// True when bytes 36-37 of the reply carry the controller's signature "QZ".
bool HasReaderSignature(const std::uint8_t* reply);
