#pragma once

// A stick kept from the rest of the machine for one run, from before its first command to after
// its last: on Linux its nodes held and its disk driver off it (StickClaim), on Windows the
// volume on its drive letter locked and dismounted (VolumeLock). Given back when released or
// dropped.
class HeldStick {
  public:
    enum class Scope {
        Exclusive,  // nothing else may use the stick while it is held
        DriverOff,  // besides, the system's view of its disk taken away for the run (a write)
    };

    virtual ~HeldStick() = default;
    // Gives the stick back; `bindDriver` false when a soft re-plug follows, which makes a new
    // device of the stick.
    virtual void Release(bool bindDriver = true) = 0;
};
