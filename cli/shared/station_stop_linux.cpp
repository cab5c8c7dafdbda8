#include "cli/shared/station_stop.h"

// The station's stop comes as SIGINT, which InstallStopSignals already counts.
void FollowStationStop() {}
