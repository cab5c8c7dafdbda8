#include "cli/reader_session.h"

#include "reader/transport.h"
#include "reader/units.h"

ReaderSession::ReaderSession(SgDeviceIo& io, std::vector<std::string> nodes)
    : layer_(io, std::move(nodes)) {}

ReaderSession::~ReaderSession() {
    if (open_) CloseTransport();
    InstallOsLayer(nullptr);
}

bool ReaderSession::Open() {
    InstallOsLayer(&layer_);
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
    for (std::uint8_t i = 0; i < count && i < kMaxUnits; ++i) {
        FoundUnit unit;
        unit.key = keys[i];
        if (i < table.count) unit.node = layer_.NodeOfLetter(table.entries[i].letter);
        units_.push_back(unit);
    }
    return true;
}

bool ReaderSession::StillPresent() { return open_ && UnitsStillPresent() == 1; }

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
