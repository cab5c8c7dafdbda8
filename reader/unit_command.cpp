#include "reader/unit_command.h"

#include "reader/port_command.h"
#include "reader/transport_state.h"
#include "reader/units.h"

int SendUnitCommand(MediaType key, const std::uint8_t* cdb, void* buffer, std::uint32_t length,
                    DataPhase phase, std::uint16_t timeoutSeconds) {
    PortAddress address;
    if (!AddressOfUnit(key, &address)) return 0;  // not a unit of the reader: send nothing
    return ExecuteCommand(address, cdb, kMaxCommandLength, phase, buffer, length, timeoutSeconds)
                   .Good()
               ? 1
               : 0;
}

CommandOutcome LastUnitOutcome(MediaType key) {
    PortAddress address;
    if (!AddressOfUnit(key, &address)) return CommandOutcome{};
    return LastOutcomeAt(address);
}

bool UnitResetAfterTimeOut(MediaType key) {
    PortAddress address;
    ScsiPort* port = ActivePort();
    return port != nullptr && AddressOfUnit(key, &address) && port->ResetsAfterTimeOut();
}

std::uint32_t UnitMaxTransfer(MediaType key) {
    PortAddress address;
    ScsiPort* port = ActivePort();
    if (port == nullptr || !AddressOfUnit(key, &address)) return kMaxTransfer;
    return port->MaxTransfer(address.place);
}

LinkAfterHostError SettleUnitAfterHostError(MediaType key) {
    PortAddress address;
    if (!AddressOfUnit(key, &address)) return LinkAfterHostError::Gone;
    return SettleAfterHostError(address);
}
