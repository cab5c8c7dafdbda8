#include <cstring>

#include "reader/commands.h"
#include "reader/port_command.h"
#include "reader/transport_state.h"
#include "reader/unit_command.h"
#include "reader/units.h"

namespace {

constexpr std::uint16_t kInquiryTimeoutSeconds = 2;
const std::uint8_t kInquiry[12] = {0x12, 0, 0, 0, kInquiryLength, 0, 0, 0, 0, 0, 0, 0};

// The reader's LUNs are asked at most this many times after LUN 0.
constexpr int kLunRepliesExamined = 3;

bool Inquiry(const PortAddress& address, std::uint8_t* reply) {
    std::memset(reply, 0, kInquiryLength);
    return ExecuteCommand(address, kInquiry, sizeof kInquiry, DataPhase::In, reply, kInquiryLength,
                          kInquiryTimeoutSeconds)
        .Good();
}

void ClearKeys(UnitTable& table) {
    for (MediaType& key : table.keys) key = kMediaNone;
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
void ScanReaderLuns(ScsiPort& port, UnitTable& table) {
    std::uint8_t reply[kInquiryLength];
    std::uint32_t reader = 0;
    bool found = false;
    for (std::uint32_t place = 0; place < port.PlaceCount() && !found; ++place) {
        found = Inquiry(PortAddress{place, 0}, reply) && HasReaderSignature(reply);
        reader = place;
    }
    if (!found) return;

    // The reply in hand is LUN 0's. An unrecognised medium code takes no position, so the next
    // INQUIRY goes to the same LUN again.
    for (int examined = 0;;) {
        const MediaType key = KeyOfInquiry(reply, table.count);
        if (key != kMediaNone) Accept(table, reader, key, reply);
        if (!Inquiry(PortAddress{reader, table.count}, reply)) break;
        if (++examined >= kLunRepliesExamined) break;
    }
    // A reader that answers every LUN with the same data is one unit.
    if (table.count >= 2 && table.keys[0] == table.keys[1]) table.count = 1;
}

// Opens the drives in order and keeps those that identify as the reader's units.
void WalkDrives(ScsiPort& port, UnitTable& table) {
    ScsiTransport& transport = Transport();
    std::uint8_t reply[kInquiryLength];
    for (std::uint32_t place = 0; place < port.PlaceCount() && table.count < kMaxUnits; ++place) {
        if (!port.Open(place)) continue;
        // A drive that does not carry the signature (the user's own disks) gets nothing but
        // this INQUIRY.
        if (!Inquiry(PortAddress{place, 0}, reply) || !HasReaderSignature(reply)) {
            port.Close(place);
            ForgetPlace(place);
            continue;
        }
        if (transport.directProbed == 0) {
            port.FirstReaderFound(place);
            transport.directProbed = 1;
        }
        const MediaType key = KeyOfInquiry(reply, table.count);
        if (key == kMediaNone) {
            port.Close(place);
            ForgetPlace(place);
            continue;
        }
        Accept(table, place, key, reply);
    }
}

void Report(const UnitTable& table, std::uint8_t* outCount, MediaType* outKeys) {
    if (outCount != nullptr) *outCount = table.count;
    if (outKeys == nullptr) return;
    for (std::uint8_t i = 0; i < table.count; ++i) {
        outKeys[i] = AspiActive() ? table.keys[i] : table.entries[i].key;
    }
}

}  // namespace

int UnitsStillPresent() {
    const UnitTable& table = Units();
    if (table.count == 0) return 0;
    const MediaType first = AspiActive() ? table.keys[0] : table.entries[0].key;
    if (TestUnitReady(first) == 1) return 1;
    // Only a vanished device counts; no medium or a changed medium keeps the list.
    if (AspiActive()) {
        const std::uint32_t status = Transport().lastAspiStatus;
        return status == kAspiNoDevice || status == kAspiAborted ? 0 : 1;
    }
    return LastUnitOutcome(first).status == CommandStatus::NoDevice ? 0 : 1;
}

void DiscoverUnits(std::uint8_t* outCount, MediaType* outKeys) {
    UnitTable& table = MutableUnits();
    if (table.count != 0) {
        if (UnitsStillPresent() == 1) {
            Report(table, outCount, outKeys);
            return;
        }
        ReleaseUnits();
    }
    ClearKeys(table);
    ScsiPort* port = ActivePort();
    if (port != nullptr) {
        if (port->Shape() == PortShape::ReaderLuns) {
            ScanReaderLuns(*port, table);
        } else {
            WalkDrives(*port, table);
        }
    }
    Report(table, outCount, outKeys);
}
