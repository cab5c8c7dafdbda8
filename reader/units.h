#pragma once
#include <array>
#include <cstdint>

#include "reader/media_type.h"
#include "reader/scsi_port.h"

// The reader's units (its media slots, or its own flash disk), each named by its MediaType key.
// Discovery fills the table; every command turns a key back into an address through it: a LUN
// of the reader's one target on a port of the ReaderLuns shape (ASPI), an open drive (the
// port's place) on every other port.

constexpr std::uint8_t kMaxUnits = 3;
constexpr std::uint8_t kNoLun = 255;
constexpr std::uint32_t kNoPlace = 0xFFFFFFFFu;
constexpr std::uint32_t kInquiryLength = 56;

struct UnitEntry {
    std::uint32_t place = kNoPlace;  // where the port reaches the unit; the table keeps it open
    MediaType key = kMediaNone;
    std::array<std::uint8_t, kInquiryLength> inquiry{};  // the unit's INQUIRY reply
};

struct UnitTable {
    MediaType keys[kMaxUnits] = {kMediaNone, kMediaNone, kMediaNone};  // ASPI: position = LUN
    std::uint8_t count = 0;
    UnitEntry entries[kMaxUnits];  // in the order found

    // The LUN of `key` (its position in the key list); 255 if it is not in the table.
    std::uint8_t LunOfUnit(MediaType key) const;
    // The port's place of `key`; kNoPlace if it is not in the table.
    std::uint32_t PlaceOfUnit(MediaType key) const;
    // Where commands for `key` go on a port of this shape; false (nothing to send to) if it is
    // not in the table.
    bool AddressOfUnit(MediaType key, PortShape shape, PortAddress* address) const;
};

// The medium code of an INQUIRY reply turned into a key: "DS" -> 8 + unitsBefore, "CF" -> 1,
// "SM" -> 2, "MM" -> 4, anything else 255. `reply` holds at least 40 bytes.
MediaType KeyOfInquiry(const std::uint8_t* reply, std::uint8_t unitsBefore);
// True when bytes 36-37 of the reply carry the controller's signature "QZ".
bool HasReaderSignature(const std::uint8_t* reply);
