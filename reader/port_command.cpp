#include "reader/port_command.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "reader/transport_state.h"

namespace {

constexpr std::uint8_t kInquiryOpcode = 0x12;
// The controller's signature in an INQUIRY reply.
constexpr std::uint32_t kSignatureOffset = 36;

struct AddressRecord {
    PortAddress address;
    CommandOutcome last;
    bool senseTaken = false;
};

struct PlaceRecords {
    std::vector<std::uint32_t> identified;
    std::vector<AddressRecord> addresses;
    std::uint64_t refused = 0;
    std::uint64_t sent = 0;
    std::uint32_t silentInARow = 0;
};

PlaceRecords records;

AddressRecord* RecordOf(const PortAddress& address) {
    for (AddressRecord& record : records.addresses) {
        if (record.address.place == address.place && record.address.lun == address.lun) {
            return &record;
        }
    }
    return nullptr;
}

void SetIdentified(std::uint32_t place, bool identified) {
    auto& list = records.identified;
    const auto it = std::find(list.begin(), list.end(), place);
    if (identified && it == list.end()) list.push_back(place);
    if (!identified && it != list.end()) list.erase(it);
}

void Remember(const PortAddress& address, const CommandOutcome& outcome) {
    AddressRecord* record = RecordOf(address);
    if (record == nullptr) {
        records.addresses.push_back(AddressRecord{address, outcome, false});
        return;
    }
    record->last = outcome;
    record->senseTaken = false;
}

bool IsQuestion(const std::uint8_t* cdb, DataPhase phase) {
    return cdb[0] == kInquiryOpcode && phase != DataPhase::Out;
}

}  // namespace

CommandOutcome ExecuteCommand(const PortAddress& address, const std::uint8_t* cdb,
                              std::uint8_t cdbLength, DataPhase phase, void* buffer,
                              std::uint32_t length, std::uint16_t timeoutSeconds) {
    CommandOutcome refused;
    ScsiPort* port = ActivePort();
    if (port == nullptr || cdb == nullptr || cdbLength < kMinCommandLength ||
        cdbLength > kMaxCommandLength || length > kMaxTransfer ||
        (length != 0 && buffer == nullptr)) {
        return refused;
    }
    if (phase == DataPhase::None) length = 0;
    if (!PlaceIdentified(address.place) && !IsQuestion(cdb, phase)) {
        ++records.refused;
        return refused;
    }

    ++records.sent;
    const CommandOutcome outcome =
        port->Execute(address, cdb, cdbLength, phase, buffer, length, timeoutSeconds);
    records.silentInARow = outcome.Silent() ? records.silentInARow + 1 : 0;
    Remember(address, outcome);

    if (cdb[0] == kInquiryOpcode && outcome.Good()) {
        const auto* reply = static_cast<const std::uint8_t*>(buffer);
        const bool hasSignature = outcome.transferred >= kSignatureOffset + 2 &&
                                  reply[kSignatureOffset] == 'Q' &&
                                  reply[kSignatureOffset + 1] == 'Z';
        // LUN 0 speaks for the place; a further LUN can only add to what it said.
        if (address.lun == 0 || hasSignature) SetIdentified(address.place, hasSignature);
    }
    return outcome;
}

CommandOutcome LastOutcomeAt(const PortAddress& address) {
    const AddressRecord* record = RecordOf(address);
    return record != nullptr ? record->last : CommandOutcome{};
}

KeptSense TakeKeptSense(const PortAddress& address, std::uint8_t* sense, std::uint8_t senseBytes) {
    AddressRecord* record = RecordOf(address);
    if (record == nullptr || record->senseTaken) return KeptSense::Nothing;
    if (record->last.Silent()) return KeptSense::Silent;
    if (record->last.status != CommandStatus::CheckCondition || record->last.senseLength == 0) {
        return KeptSense::Nothing;
    }
    std::memset(sense, 0, senseBytes);
    std::memcpy(sense, record->last.sense.data(),
                std::min<std::size_t>(senseBytes, record->last.senseLength));
    record->senseTaken = true;
    return KeptSense::Bytes;
}

bool PlaceIdentified(std::uint32_t place) {
    const auto& list = records.identified;
    return std::find(list.begin(), list.end(), place) != list.end();
}

void ForgetPlace(std::uint32_t place) {
    SetIdentified(place, false);
    auto& list = records.addresses;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [place](const AddressRecord& r) { return r.address.place == place; }),
               list.end());
}

void ForgetAllPlaces() {
    PlaceRecords fresh;
    fresh.refused = records.refused;
    fresh.sent = records.sent;
    records = fresh;
}

std::uint64_t RefusedCommandCount() { return records.refused; }

std::uint64_t CommandsSent() { return records.sent; }

std::uint32_t ConsecutiveSilentCommands() { return records.silentInARow; }
