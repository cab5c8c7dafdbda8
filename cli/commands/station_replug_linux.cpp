#include "cli/commands/station_replug.h"

bool StationReplugs(const CliOptions& options) { return !options.noReplug; }
