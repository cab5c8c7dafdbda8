#include "reader/port_command.h"
#include "reader/transport_state.h"
#include "reader/units.h"

namespace {

UnitTable table;

// Under ASPI every unit is a LUN of the one reader at the address discovery kept.
std::uint32_t ReaderPlace() {
    const ScsiTransport& transport = Transport();
    return std::uint32_t{transport.readerHostAdapter} * 8u + transport.readerTarget;
}

}  // namespace

const UnitTable& Units() { return table; }
UnitTable& MutableUnits() { return table; }

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

void ReleaseUnits() {
    ScsiPort* port = ActivePort();
    for (std::uint8_t i = 0; i < table.count && i < kMaxUnits; ++i) {
        const std::uint32_t place = table.entries[i].place;
        if (port != nullptr && place != kNoPlace) port->Close(place);
        ForgetPlace(place);
    }
    table = UnitTable{};
}

std::uint8_t LunOfUnit(MediaType key) {
    for (std::uint8_t i = 0; i < table.count; ++i) {
        if (table.keys[i] == key) return i;
    }
    return kNoLun;
}

std::uint32_t PlaceOfUnit(MediaType key) {
    for (std::uint8_t i = 0; i < table.count; ++i) {
        if (table.entries[i].key == key) return table.entries[i].place;
    }
    return kNoPlace;
}

bool AddressOfUnit(MediaType key, PortAddress* address) {
    if (AspiActive()) {
        const std::uint8_t lun = LunOfUnit(key);
        if (lun == kNoLun) return false;
        *address = PortAddress{ReaderPlace(), lun};
        return true;
    }
    const std::uint32_t place = PlaceOfUnit(key);
    if (place == kNoPlace) return false;
    *address = PortAddress{place, 0};
    return true;
}
