#include "cli/commands/commands.h"
#include "cli/shared/exit_codes.h"
#include "cli/shared/messages.h"

// The station (many sticks at once, each in a worker process of its own) is not built for
// Windows yet: its commands say so and change nothing.
namespace {

int RefuseStation(const char* what) {
    Complain(std::string(what) +
             " is not available on Windows yet; format one stick at a time "
             "(--device); nothing was done");
    return kExitUsage;
}

}  // namespace

int RunStationFormat(const CliOptions&) { return RefuseStation("format --all"); }

int RunWatchCommand(const CliOptions&) { return RefuseStation("watch"); }
