#pragma once
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/machine.h"
#include "cli/reader_session.h"
#include "cli/run_report.h"
#include "cli/stick_claim.h"

// The flash disk a command works on: found among the machine's units (each node discovered on
// its own), exactly one of them (the one --device named, or the only one there is), with the
// transport open over its node and what the system knows of it.
struct ChosenStick {
    FoundUnit unit;
    DeviceIdentity identity;
    std::unique_ptr<StickClaim> claim;  // held until the session is over (declared before it)
    std::unique_ptr<ReaderSession> session;
};

// What the command will do to the stick, for the messages: "format", "check", "restore".
// refuseInUse: the command writes: a stick with a mounted file system (or swap, or a volume built
// on it) is refused, and the stick is claimed for the run (StickClaim, the disk driver off it).
// False, with the reason shown and the exit code, when there is no such stick to work on.
bool ChooseStick(Machine& machine, const CliOptions& options, const char* verb, bool refuseInUse,
                 ChosenStick* stick, int* exitCode);

// Writes "brevant: " and the text to standard error.
void Complain(const std::string& text);
