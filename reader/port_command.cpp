#include "reader/port_command.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "reader/sense.h"
#include "reader/transport_state.h"

namespace {

constexpr std::uint8_t kTestUnitReadyOpcode = 0x00;
constexpr std::uint8_t kInquiryOpcode = 0x12;
constexpr std::uint8_t kSelectBankOpcode = 0xFB;
// The controller's signature in an INQUIRY reply.
constexpr std::uint32_t kSignatureOffset = 36;

// How a host-side error is settled: this many looks at the system, each waiting up to the pause
// for it to let the device go, and each followed by a TEST UNIT READY. A pulled stick's commands
// end so for a few tens of milliseconds before the system says it is gone.
constexpr int kSettleLooks = 20;
constexpr std::uint32_t kSettlePauseMilliseconds = 50;
constexpr std::uint16_t kSettleTimeoutSeconds = 1;

struct AddressRecord {
    PortAddress address;
    CommandOutcome last;
    bool senseTaken = false;
    // The last bank selection the device took: a reset undoes it.
    bool bankSelected = false;
    std::array<std::uint8_t, kMaxCommandLength> selectBank{};
};

struct PlaceRecords {
    std::vector<std::uint32_t> identified;
    std::vector<AddressRecord> addresses;
    std::uint64_t refused = 0;
    std::uint64_t sent = 0;
    std::uint32_t silentInARow = 0;
    std::uint64_t hostErrors = 0;
    std::uint64_t resets = 0;
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

AddressRecord& Remember(const PortAddress& address, const CommandOutcome& outcome) {
    AddressRecord* record = RecordOf(address);
    if (record == nullptr) {
        AddressRecord fresh;
        fresh.address = address;
        records.addresses.push_back(fresh);
        record = &records.addresses.back();
    }
    record->last = outcome;
    record->senseTaken = false;
    return *record;
}

bool IsQuestion(const std::uint8_t* cdb, DataPhase phase) {
    return cdb[0] == kInquiryOpcode && phase != DataPhase::Out;
}

// Hands one command to the port and keeps its outcome.
CommandOutcome Carry(ScsiPort& port, const PortAddress& address, const std::uint8_t* cdb,
                     std::uint8_t cdbLength, DataPhase phase, void* buffer, std::uint32_t length,
                     std::uint16_t timeoutSeconds) {
    ++records.sent;
    const CommandOutcome outcome =
        port.Execute(address, cdb, cdbLength, phase, buffer, length, timeoutSeconds);
    records.silentInARow = outcome.Silent() ? records.silentInARow + 1 : 0;
    if (outcome.status == CommandStatus::HostError) ++records.hostErrors;
    AddressRecord& record = Remember(address, outcome);
    if (cdb[0] == kSelectBankOpcode && outcome.Good()) {
        record.bankSelected = true;
        record.selectBank.fill(0);
        std::memcpy(record.selectBank.data(), cdb, cdbLength);
    }
    return outcome;
}

bool AnswersAReset(const CommandOutcome& outcome) {
    return outcome.status == CommandStatus::CheckCondition &&
           IsResetNotice(DecodeSense(outcome.sense.data(), outcome.senseLength));
}

// The device was reset instead of carrying the command out: its bank selection goes back as it
// was, then the command goes once more. A bank that cannot be selected again is that command's
// failure: the command would reach another bank.
CommandOutcome AgainAfterReset(ScsiPort& port, const PortAddress& address, const std::uint8_t* cdb,
                               std::uint8_t cdbLength, DataPhase phase, void* buffer,
                               std::uint32_t length, std::uint16_t timeoutSeconds) {
    ++records.resets;
    const AddressRecord* record = RecordOf(address);
    if (record != nullptr && record->bankSelected && cdb[0] != kSelectBankOpcode) {
        const std::array<std::uint8_t, kMaxCommandLength> select = record->selectBank;
        const CommandOutcome selected = Carry(port, address, select.data(), kMaxCommandLength,
                                              DataPhase::None, nullptr, 0, timeoutSeconds);
        if (!selected.Good()) return selected;
    }
    return Carry(port, address, cdb, cdbLength, phase, buffer, length, timeoutSeconds);
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

    CommandOutcome outcome =
        Carry(*port, address, cdb, cdbLength, phase, buffer, length, timeoutSeconds);
    if (port->SenseComesWithStatus() && AnswersAReset(outcome)) {
        outcome =
            AgainAfterReset(*port, address, cdb, cdbLength, phase, buffer, length, timeoutSeconds);
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

CommandOutcome LastOutcomeAt(const PortAddress& address) {
    const AddressRecord* record = RecordOf(address);
    return record != nullptr ? record->last : CommandOutcome{};
}

KeptSense TakeKeptSense(const PortAddress& address, std::uint8_t* sense, std::uint8_t* length) {
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

LinkAfterHostError SettleAfterHostError(const PortAddress& address) {
    ScsiPort* port = ActivePort();
    if (port == nullptr) return LinkAfterHostError::Gone;
    const std::uint8_t testUnitReady[kMaxCommandLength] = {kTestUnitReadyOpcode};
    for (int look = 0; look < kSettleLooks; ++look) {
        if (port->AwaitPresence(address.place, kSettlePauseMilliseconds) == PlacePresence::Gone) {
            return LinkAfterHostError::Gone;
        }
        const CommandOutcome outcome =
            ExecuteCommand(address, testUnitReady, kMaxCommandLength, DataPhase::None, nullptr, 0,
                           kSettleTimeoutSeconds);
        switch (outcome.status) {
            case CommandStatus::HostError:
                continue;
            case CommandStatus::NoDevice:
            case CommandStatus::Refused:  // the port cannot reach the place any more
                return LinkAfterHostError::Gone;
            case CommandStatus::TimedOut:
                return LinkAfterHostError::Quiet;
            default:  // a status: the device answered
                return LinkAfterHostError::There;
        }
    }
    return LinkAfterHostError::Quiet;
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
    fresh.hostErrors = records.hostErrors;
    fresh.resets = records.resets;
    records = fresh;
}

std::uint64_t RefusedCommandCount() { return records.refused; }

std::uint64_t CommandsSent() { return records.sent; }

std::uint32_t ConsecutiveSilentCommands() { return records.silentInARow; }

std::uint64_t HostErrorCount() { return records.hostErrors; }

std::uint64_t ResetNoticeCount() { return records.resets; }
