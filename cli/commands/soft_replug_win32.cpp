#include "cli/commands/soft_replug.h"

bool ReplugRealStick(ChosenStick&, StickAgain*, std::string* reason) {
    // Windows has no switch that lets go of one USB device and takes it back as a plug-in does
    // (the device manager's disable and enable reach the disk, not the stick's controller).
    *reason = "Windows cannot plug a stick in again in software";
    return false;
}
