#pragma once
#include <cstdint>

#include "reader/media_type.h"
#include "reader/port_command.h"
#include "reader/scsi_port.h"

// Where a command for a unit meets the port: the command set hands over the 12-byte block, the
// data phase, the length and the time-out; the unit table gives the address.

// Sends `cdb` to the unit `key`. Returns 1 on success, 0 on failure. A key that is not in the
// unit table fails without anything being sent.
int SendUnitCommand(MediaType key, const std::uint8_t* cdb, void* buffer, std::uint32_t length,
                    DataPhase phase, std::uint16_t timeoutSeconds);

// Whether the system resets the unit's device after a command of it timed out
// (ScsiPort::ResetsAfterTimeOut).
bool UnitResetAfterTimeOut(MediaType key);

// The most bytes one command to the unit may carry (kMaxTransfer for a key not in the table).
std::uint32_t UnitMaxTransfer(MediaType key);

// The outcome of the last command sent to the unit (Refused when none was, or for a key that is
// not in the table).
CommandOutcome LastUnitOutcome(MediaType key);

// SettleAfterHostError for the unit (Gone for a key that is not in the table).
LinkAfterHostError SettleUnitAfterHostError(MediaType key);
