#include "cli/shared/reader_session.h"

ReaderSession::ReaderSession(ScsiPort& port, std::vector<std::uint32_t> places)
    : port_(port, std::move(places)), reader_(port_) {}

bool ReaderSession::Open() {
    if (reader_.OpenTransport() == 0) return false;
    std::uint8_t count = 0;
    MediaType keys[kMaxUnits] = {kMediaNone, kMediaNone, kMediaNone};
    reader_.DiscoverUnits(&count, keys);
    const UnitTable& table = reader_.Units();
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

void ReaderSession::End(bool bindDriver) {
    while (reader_.StartCount() > 0) reader_.CloseTransport();
    if (claim_) claim_->Release(bindDriver);
}

bool ReaderSession::StillPresent() {
    return reader_.Port() != nullptr && reader_.UnitsStillPresent() == 1;
}

bool OpenSessions(ScsiPort& port, const std::vector<std::uint32_t>& places,
                  std::vector<std::unique_ptr<ReaderSession>>* sessions) {
    for (std::uint32_t place : places) {
        auto session = std::make_unique<ReaderSession>(port, std::vector<std::uint32_t>{place});
        if (!session->Open()) return false;
        if (!session->Units().empty()) sessions->push_back(std::move(session));
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
