#pragma once
#include "cli/shared/cli_options.h"

// Whether the station asks its workers for a soft re-plug of each stick after its run (unless
// --no-replug): where the system can plug a stick in again in software. Linux can (a USB port's
// authorisation); Windows cannot, so a worker there would only warn, once per stick, that it
// did not; a simulated stick can everywhere.
bool StationReplugs(const CliOptions& options);
