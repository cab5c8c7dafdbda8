#pragma once
#include <memory>
#include <string>
#include <vector>

#include "cli/shared/cli_options.h"
#include "cli/shared/device_identity.h"
#include "cli/shared/machine.h"
#include "cli/shared/reader_session.h"

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
// refuseInUse: the command writes: a stick with a mounted file system (or swap, or a volume built
// on it) is refused, and the stick is claimed for the run (StickClaim, the disk driver off it).
// False, with the reason shown and the exit code, when there is no such stick to work on.
bool ChooseStick(Machine& machine, const CliOptions& options, const char* verb, bool refuseInUse,
                 ChosenStick* stick, int* exitCode);

// Says that discovery found no unit, and the likeliest reason: among them the nodes another
// program holds.
void ReportNoReader(Machine& machine, const CliOptions& options);

// Said of a node another program holds for a run of its own.
constexpr char kHeldElsewhere[] = "in use by another program (another brevant at work on it?)";
// What the system knows of the stick behind a node: " (serial S, USB port P)", or "".
std::string WhereFrom(Machine& machine, const std::string& node);
