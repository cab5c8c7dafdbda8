// Discovery of the reader's units: the scan of the reader's LUNs (ASPI) or the walk of the
// drives (every other port), and the check that the units found before are still there.
#include <cstring>

#include "reader/reader.h"
#include "reader/reader_unit.h"

namespace {

constexpr std::uint16_t kInquiryTimeoutSeconds = 2;
const std::uint8_t kInquiry[12] = {0x12, 0, 0, 0, kInquiryLength, 0, 0, 0, 0, 0, 0, 0};

// The reader's LUNs are asked at most this many times after LUN 0.
constexpr int kLunRepliesExamined = 3;

bool Inquiry(CommandPath& path, const PortAddress& address, std::uint8_t* reply) {
    std::memset(reply, 0, kInquiryLength);
    return path
        .Execute(address, kInquiry, sizeof kInquiry, DataPhase::In, reply, kInquiryLength,
                 kInquiryTimeoutSeconds)
        .Good();
}

void Accept(UnitTable& table, std::uint32_t place, MediaType key, const std::uint8_t* reply) {
    UnitEntry& entry = table.entries[table.count];
    entry.place = place;
    entry.key = key;
    std::memcpy(entry.inquiry.data(), reply, kInquiryLength);
    table.keys[table.count] = key;
    ++table.count;
}

// Finds the first reader (lowest host adapter, then lowest target: the places in order) and
// walks its LUNs.
void ScanReaderLuns(ScsiPort& port, CommandPath& path, UnitTable& table) {
    std::uint8_t reply[kInquiryLength];
    std::uint32_t reader = 0;
    bool found = false;
    for (std::uint32_t place = 0; place < port.PlaceCount() && !found; ++place) {
        found = Inquiry(path, PortAddress{place, 0}, reply) && HasReaderSignature(reply);
        reader = place;
    }
    if (!found) return;

    // The reply in hand is LUN 0's. An unrecognised medium code takes no position, so the next
    // INQUIRY goes to the same LUN again.
    for (int examined = 0;;) {
        const MediaType key = KeyOfInquiry(reply, table.count);
        if (key != kMediaNone) Accept(table, reader, key, reply);
        if (!Inquiry(path, PortAddress{reader, table.count}, reply)) break;
        if (++examined >= kLunRepliesExamined) break;
    }
    // A reader that answers every LUN with the same data is one unit.
    if (table.count >= 2 && table.keys[0] == table.keys[1]) table.count = 1;
}

// Opens the drives in order and keeps those that identify as the reader's units.
void WalkDrives(ScsiPort& port, CommandPath& path, UnitTable& table) {
    std::uint8_t reply[kInquiryLength];
    for (std::uint32_t place = 0; place < port.PlaceCount() && table.count < kMaxUnits; ++place) {
        if (!port.Open(place)) continue;
        // A drive that does not carry the signature (the user's own disks) gets nothing but
        // this INQUIRY.
        if (!Inquiry(path, PortAddress{place, 0}, reply) || !HasReaderSignature(reply)) {
            port.Close(place);
            path.ForgetPlace(place);
            continue;
        }
        port.ReaderFound(place);
        const MediaType key = KeyOfInquiry(reply, table.count);
        if (key == kMediaNone) {
            port.Close(place);
            path.ForgetPlace(place);
            continue;
        }
        Accept(table, place, key, reply);
    }
}

void Report(const UnitTable& table, PortShape shape, std::uint8_t* outCount, MediaType* outKeys) {
    if (outCount != nullptr) *outCount = table.count;
    if (outKeys == nullptr) return;
    for (std::uint8_t i = 0; i < table.count; ++i) {
        outKeys[i] = shape == PortShape::ReaderLuns ? table.keys[i] : table.entries[i].key;
    }
}

}  // namespace

int Reader::UnitsStillPresent() {
    if (units_.count == 0 || port_ == nullptr) return 0;
    const PortShape shape = port_->Shape();
    const MediaType first = shape == PortShape::ReaderLuns ? units_.keys[0] : units_.entries[0].key;
    const CommandOutcome ready = ReaderUnit(*this, first).TestUnitReady();
    if (ready.Good()) return 1;
    // Only a vanished device counts; no medium or a changed medium keeps the list. The reader's
    // target answers for every LUN, so there a time-out (an aborted request) counts as well.
    if (ready.status == CommandStatus::NoDevice) return 0;
    if (shape == PortShape::ReaderLuns && ready.status == CommandStatus::TimedOut) return 0;
    return 1;
}

void Reader::DiscoverUnits(std::uint8_t* outCount, MediaType* outKeys) {
    const PortShape shape = port_ != nullptr ? port_->Shape() : PortShape::Drives;
    if (units_.count != 0) {
        if (UnitsStillPresent() == 1) {
            Report(units_, shape, outCount, outKeys);
            return;
        }
        ReleaseUnits();
    }
    units_ = UnitTable{};
    if (port_ != nullptr) {
        if (shape == PortShape::ReaderLuns) {
            ScanReaderLuns(*port_, path_, units_);
        } else {
            WalkDrives(*port_, path_, units_);
        }
    }
    Report(units_, shape, outCount, outKeys);
}
