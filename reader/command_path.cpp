#include "reader/command_path.h"

#include <algorithm>
#include <cstring>

#include "reader/sense.h"

namespace {

constexpr std::uint8_t kInquiryOpcode = 0x12;
constexpr std::uint8_t kSelectBankOpcode = 0xFB;
// The controller's signature in an INQUIRY reply.
constexpr std::uint32_t kSignatureOffset = 36;

bool IsQuestion(const std::uint8_t* cdb, DataPhase phase) {
    return cdb[0] == kInquiryOpcode && phase != DataPhase::Out;
}

bool AnswersAReset(const CommandOutcome& outcome) {
    return outcome.status == CommandStatus::CheckCondition &&
           IsResetNotice(DecodeSense(outcome.sense.data(), outcome.senseLength));
}

}  // namespace

CommandPath::AddressRecord* CommandPath::RecordOf(const PortAddress& address) {
    for (AddressRecord& record : addresses_) {
        if (record.address.place == address.place && record.address.lun == address.lun) {
            return &record;
        }
    }
    return nullptr;
}

void CommandPath::SetIdentified(std::uint32_t place, bool identified) {
    const auto it = std::find(identified_.begin(), identified_.end(), place);
    if (identified && it == identified_.end()) identified_.push_back(place);
    if (!identified && it != identified_.end()) identified_.erase(it);
}

CommandPath::AddressRecord& CommandPath::Remember(const PortAddress& address,
                                                  const CommandOutcome& outcome) {
    AddressRecord* record = RecordOf(address);
    if (record == nullptr) {
        AddressRecord fresh;
        fresh.address = address;
        addresses_.push_back(fresh);
        record = &addresses_.back();
    }
    record->last = outcome;
    record->senseTaken = false;
    return *record;
}

CommandOutcome CommandPath::Carry(const PortAddress& address, const std::uint8_t* cdb,
                                  std::uint8_t cdbLength, DataPhase phase, void* buffer,
                                  std::uint32_t length, std::uint16_t timeoutSeconds) {
    ++sent_;
    CommandOutcome outcome =
        port_->Execute(address, cdb, cdbLength, phase, buffer, length, timeoutSeconds);
    outcome.requested = length;
    if (outcome.status == CommandStatus::HostError) ++hostErrors_;
    AddressRecord& record = Remember(address, outcome);
    if (cdb[0] == kSelectBankOpcode && outcome.Good()) {
        record.bankSelected = true;
        record.selectBank.fill(0);
        std::memcpy(record.selectBank.data(), cdb, cdbLength);
    }
    return outcome;
}

// A bank that cannot be selected again is the command's failure: it would reach another bank.
CommandOutcome CommandPath::AgainAfterReset(const PortAddress& address, const std::uint8_t* cdb,
                                            std::uint8_t cdbLength, DataPhase phase, void* buffer,
                                            std::uint32_t length, std::uint16_t timeoutSeconds) {
    ++resets_;
    const AddressRecord* record = RecordOf(address);
    if (record != nullptr && record->bankSelected && cdb[0] != kSelectBankOpcode) {
        const std::array<std::uint8_t, kMaxCommandLength> select = record->selectBank;
        CommandOutcome selected = Carry(address, select.data(), kMaxCommandLength, DataPhase::None,
                                        nullptr, 0, timeoutSeconds);
        if (!selected.Good()) {
            selected.afterReset = true;
            return selected;
        }
    }
    CommandOutcome again = Carry(address, cdb, cdbLength, phase, buffer, length, timeoutSeconds);
    again.afterReset = true;
    return again;
}

CommandOutcome CommandPath::Execute(const PortAddress& address, const std::uint8_t* cdb,
                                    std::uint8_t cdbLength, DataPhase phase, void* buffer,
                                    std::uint32_t length, std::uint16_t timeoutSeconds) {
    CommandOutcome refused;
    refused.requested = phase == DataPhase::None ? 0 : length;
    if (port_ == nullptr || cdb == nullptr || cdbLength < kMinCommandLength ||
        cdbLength > kMaxCommandLength || length > kMaxTransfer ||
        (length != 0 && buffer == nullptr)) {
        return refused;
    }
    if (phase == DataPhase::None) length = 0;
    if (!PlaceIdentified(address.place) && !IsQuestion(cdb, phase)) {
        ++refused_;
        return refused;
    }

    CommandOutcome outcome = Carry(address, cdb, cdbLength, phase, buffer, length, timeoutSeconds);
    if (port_->SenseComesWithStatus() && AnswersAReset(outcome)) {
        outcome = AgainAfterReset(address, cdb, cdbLength, phase, buffer, length, timeoutSeconds);
    }

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

KeptSense CommandPath::TakeKeptSense(const PortAddress& address, std::uint8_t* sense,
                                     std::uint8_t* length) {
    AddressRecord* record = RecordOf(address);
    if (record == nullptr || record->senseTaken) return KeptSense::Nothing;
    // Nothing was heard from the device: it has no sense to hand over for that command.
    if (record->last.Unheard()) return KeptSense::Silent;
    if (record->last.status != CommandStatus::CheckCondition || record->last.senseLength == 0) {
        return KeptSense::Nothing;
    }
    *length = std::min<std::uint8_t>(record->last.senseLength, kMaxSenseBytes);
    std::memcpy(sense, record->last.sense.data(), *length);
    record->senseTaken = true;
    return KeptSense::Bytes;
}

bool CommandPath::PlaceIdentified(std::uint32_t place) const {
    return std::find(identified_.begin(), identified_.end(), place) != identified_.end();
}

void CommandPath::ForgetPlace(std::uint32_t place) {
    SetIdentified(place, false);
    addresses_.erase(
        std::remove_if(addresses_.begin(), addresses_.end(),
                       [place](const AddressRecord& r) { return r.address.place == place; }),
        addresses_.end());
}

void CommandPath::ForgetAllPlaces() {
    identified_.clear();
    addresses_.clear();
}
