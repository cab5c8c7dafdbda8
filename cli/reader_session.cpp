#include "cli/reader_session.h"

#include "reader/transport.h"
#include "reader/units.h"

ReaderSession::ReaderSession(ScsiPort& port, std::vector<std::uint32_t> places)
    : port_(port, std::move(places)) {}

ReaderSession::~ReaderSession() {
    if (open_) CloseTransport();
    UsePort(nullptr);
}

bool ReaderSession::Open() {
    UsePort(&port_);
    if (OpenTransport() == 0) {
        // A failed start still counts as one start; undo it so the next session starts clean.
        CloseTransport();
        return false;
    }
    open_ = true;
    std::uint8_t count = 0;
    MediaType keys[kMaxUnits] = {kMediaNone, kMediaNone, kMediaNone};
    DiscoverUnits(&count, keys);
    const UnitTable& table = ::Units();
    for (std::uint8_t i = 0; i < count && i < table.count; ++i) {
        FoundUnit unit;
        unit.key = keys[i];
        unit.place = port_.BasePlace(table.entries[i].place);
        unit.node = port_.PlaceName(table.entries[i].place);
        unit.inquiry = table.entries[i].inquiry;
        units_.push_back(unit);
    }
    return true;
}

bool ReaderSession::StillPresent() { return open_ && UnitsStillPresent() == 1; }

bool FindAllUnits(ScsiPort& port, const std::vector<std::uint32_t>& places,
                  std::vector<FoundUnit>* units) {
    for (std::uint32_t place : places) {
        ReaderSession session(port, {place});
        if (!session.Open()) return false;
        units->insert(units->end(), session.Units().begin(), session.Units().end());
    }
    return true;
}

bool IsFlashDiskKey(MediaType key) { return key >= kMediaUsbDisk && key != kMediaNone; }

std::string MediumName(MediaType key) {
    switch (key) {
        case kMediaCompactFlash:
            return "CompactFlash slot";
        case kMediaSmartMedia:
            return "SmartMedia slot";
        case kMediaMmc:
            return "MMC slot";
        default:
            break;
    }
    return IsFlashDiskKey(key) ? "USB flash disk" : "unknown";
}
