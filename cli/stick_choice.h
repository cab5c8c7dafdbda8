#pragma once
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/device_identity.h"
#include "cli/machine.h"
#include "cli/reader_session.h"

// The flash disk a command works on: found among the machine's units (each node discovered on
// its own), exactly one of them (the one --device named, or the only one there is), with the
// reader that found it (its transport open over the stick's node alone, where the stick is the
// first unit) and what the system knows of it.
struct ChosenStick {
    FoundUnit unit;
    DeviceIdentity identity;
    std::unique_ptr<ReaderSession> session;

    Reader& GetReader() { return session->GetReader(); }
};

// What the command will do to the stick, for the messages: "format", "check", "restore".
// refuseInUse: a stick with a mounted file system (or swap, or a volume built on it) is refused.
// False, with the reason shown and the exit code, when there is no such stick to work on.
bool ChooseStick(Machine& machine, const CliOptions& options, const char* verb, bool refuseInUse,
                 ChosenStick* stick, int* exitCode);

// Says that discovery found no unit, and the likeliest reason.
void ReportNoReader(Machine& machine, const CliOptions& options);
