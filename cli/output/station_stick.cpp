#include "cli/output/station_stick.h"

bool WorkerHeard(const StationStick& stick) { return stick.exited; }
