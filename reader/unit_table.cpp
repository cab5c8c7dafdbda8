#include "reader/units.h"

bool HasReaderSignature(const std::uint8_t* reply) { return reply[36] == 'Q' && reply[37] == 'Z'; }

MediaType KeyOfInquiry(const std::uint8_t* reply, std::uint8_t unitsBefore) {
    const char a = static_cast<char>(reply[38]);
    const char b = static_cast<char>(reply[39]);
    if (a == 'D' && b == 'S') return static_cast<MediaType>(kMediaUsbDisk + unitsBefore);
    if (a == 'C' && b == 'F') return kMediaCompactFlash;
    if (a == 'S' && b == 'M') return kMediaSmartMedia;
    if (a == 'M' && b == 'M') return kMediaMmc;
    return kMediaNone;
}

std::uint8_t UnitTable::LunOfUnit(MediaType key) const {
    for (std::uint8_t i = 0; i < count; ++i) {
        if (keys[i] == key) return i;
    }
    return kNoLun;
}

std::uint32_t UnitTable::PlaceOfUnit(MediaType key) const {
    for (std::uint8_t i = 0; i < count; ++i) {
        if (entries[i].key == key) return entries[i].place;
    }
    return kNoPlace;
}

bool UnitTable::AddressOfUnit(MediaType key, PortShape shape, PortAddress* address) const {
    if (shape == PortShape::ReaderLuns) {
        // Every unit is a LUN of the one reader that discovery kept.
        const std::uint8_t lun = LunOfUnit(key);
        if (lun == kNoLun) return false;
        *address = PortAddress{entries[0].place, lun};
        return true;
    }
    const std::uint32_t place = PlaceOfUnit(key);
    if (place == kNoPlace) return false;
    *address = PortAddress{place, 0};
    return true;
}
