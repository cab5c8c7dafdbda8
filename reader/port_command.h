#pragma once
#include <cstdint>

#include "reader/scsi_port.h"

// The one way a command block reaches the active port. It refuses what must never be sent:
// anything but a question (an INQUIRY that carries no data to the device) to a place that has
// not answered INQUIRY with the controller's signature, transfers beyond 65536 bytes, command
// blocks outside 6 to 12 bytes. It keeps what the rest of the reader asks about later: the last
// outcome at each address (with its sense bytes) and how many commands in a row went silent.
//
// Where the system hands the sense over with the status (Linux), a command that a device
// answers with UNIT ATTENTION 29h (it was reset, as Linux's USB storage driver resets a stick
// after a time-out) was not carried out: it is sent once more, after the bank selection the reset
// undid.

CommandOutcome ExecuteCommand(const PortAddress& address, const std::uint8_t* cdb,
                              std::uint8_t cdbLength, DataPhase phase, void* buffer,
                              std::uint32_t length, std::uint16_t timeoutSeconds);

// The outcome of the last command sent to `address` (Refused when none was).
CommandOutcome LastOutcomeAt(const PortAddress& address);

// What a port that returns sense with the status left for the next REQUEST SENSE at `address`.
enum class KeptSense {
    Bytes,    // the sense bytes of the last command's CHECK CONDITION, now handed over
    Silent,   // the last command got no answer at all: there is nothing to ask for
    Nothing,  // neither: ask the device
};
// `sense` has room for kMaxSenseBytes; `length` receives how many of them came.
KeptSense TakeKeptSense(const PortAddress& address, std::uint8_t* sense, std::uint8_t* length);

// True once the place answered INQUIRY with the controller's signature.
bool PlaceIdentified(std::uint32_t place);
// Forgets what was learnt about a place (it was closed; another device may answer there next).
void ForgetPlace(std::uint32_t place);
// Forgets every place (the transport closed).
void ForgetAllPlaces();

// Commands handed to the port since the process started.
std::uint64_t CommandsSent();
// Commands refused because their place had not identified itself.
std::uint64_t RefusedCommandCount();
// Commands in a row, up to the last one, that ended with no status at all (time-out, no device).
std::uint32_t ConsecutiveSilentCommands();
// Commands since the process started that ended with an error of the host's side (HostError).
std::uint64_t HostErrorCount();
// Resets the devices reported (UNIT ATTENTION 29h) since the process started.
std::uint64_t ResetNoticeCount();

// What a device at an address came to after a command of it ended with a host-side error.
enum class LinkAfterHostError {
    There,  // it answers with a status: the error was the way's, not the device's
    Gone,   // the system let it go, or says there is no device
    Quiet,  // neither within a second or so: errors go on, or it stopped answering
};
// Settles it: asks the system, and the device with TEST UNIT READY, until one of them says.
LinkAfterHostError SettleAfterHostError(const PortAddress& address);
