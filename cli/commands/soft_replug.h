#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

class Machine;
struct ChosenStick;

// A stick plugged out and in again without touching it: after a run that wrote to it the system
// still has the stick's old size and partition table, and its controller has not started
// afresh with the new card information page, until a re-plug.

// What the system sees of a stick once it is back.
struct StickAgain {
    std::string genericNode;  // /dev/sgN
    std::string diskNode;     // /dev/sdX
    std::uint64_t sectors = 0;
};

// Re-enumerates the USB device whose sysfs folder is `usbDevice` without touching its port: its
// `authorized` switch to 0 lets go of the stick as a pull does, back to 1 makes the system
// configure it and its drivers find it anew, as a plug-in does. Waits up to `timeout` for the
// stick to come back, with the serial number `serial` (empty: it has none), its generic node and
// its disk. False with the reason when it does not.
bool SoftReplug(const std::string& usbDevice, const std::string& serial, StickAgain* again,
                std::string* reason,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(15000),
                const std::string& devDir = "/dev");

// The platform's re-plug of a real stick after a run: the stick's session ended and the stick
// plugged in again in software, and what the system sees of it then. False with the reason when
// it did not come back, or when the system has no way to do it.
bool ReplugRealStick(ChosenStick& stick, StickAgain* again, std::string* reason);

// The end of a run that wrote to the stick (`wrote`): with `replug`, the stick is given back and
// plugged in again in software, and shown as the system sees it now, on `out`; without, `out`
// is told that the system sees the stick as it was until it is plugged in again (`out` null:
// nothing is said but trouble, on standard error). Either way the stick's claim is given up.
// Nothing more for a run that wrote nothing. False when a re-plug that was asked for did not
// bring the stick back.
bool FinishAfterRun(Machine& machine, ChosenStick& stick, bool replug, bool wrote, std::FILE* out);
