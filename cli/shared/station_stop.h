#pragma once
#include <string>

// How a station's worker hears that its station asks it to stop. On Linux the station sends it
// SIGINT, one of the stop signals every run follows: nothing more is needed. On Windows a
// console control event reaches only processes of the same console (and not at all when the
// station has none), so the station sets an event named after the worker's process, which the
// worker follows; a worker whose station is gone stops as well, so that no run goes on unseen.
// Either way the run ends at the next block and puts the old pages back.

// Follows the station's stop from now on, when this process is a station's worker (else does
// nothing). Needs InstallStopSignals first.
void FollowStationStop();

// The name of the stop event of the worker with this process id (Windows).
std::string StationStopName(unsigned long processId);
