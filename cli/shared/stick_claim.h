#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "cli/shared/held_stick.h"

class SgioPort;

// A stick kept for one run, from before its first command to after its last, against everything
// else on the machine that would talk to it or use it meanwhile:
//
// - its SCSI generic node is held exclusively: a second brevant (or any program that opens the
//   node) is refused with EBUSY, and says so;
// - the kernel's media polling of the disk is turned off, and put back as it was at the end;
// - its disk and every partition are opened exclusively: EBUSY means a mounted file system,
//   swap, a volume built over it or another exclusive opener, in any mount namespace; the run
//   then sends nothing;
// - for a format or a restore the disk driver (sd) is taken off the stick until the run is over
//   (the generic node stays): with no block device nothing can open it (no desktop probe, no
//   automounter, no partition tool), the kernel polls no medium and reads no partition table in
//   the middle of the run, and binding the driver back makes the kernel read the stick afresh.
//   Where the driver cannot be taken off (sysfs not writable), the exclusive opens are held for
//   the run instead;
// - for a write-protect probe (two commands) the exclusive opens are held, and the disk stays
//   where it is.
//
// All of it is read from and written to sysfs under `sysDir`, with the device nodes in `devDir`.
// Scope::Exclusive holds the node, the disk and its partitions exclusively with the media polling
// off; Scope::DriverOff besides takes the disk driver off the stick for the run.
class StickClaim final : public HeldStick {
  public:
    explicit StickClaim(std::string sysDir = "/sys", std::string devDir = "/dev");
    ~StickClaim() override;
    StickClaim(const StickClaim&) = delete;
    StickClaim& operator=(const StickClaim&) = delete;

    // Takes the stick at `place` of `port`. False with the reason when it cannot be had (`busy`
    // set when something else holds it: another program, a mount, swap, a volume); nothing has
    // then been changed and nothing was sent to the stick.
    bool Take(SgioPort& port, std::uint32_t place, Scope scope, std::string* reason, bool* busy);

    // Gives the stick back: the media polling as it was, the disk driver bound again unless
    // `bindDriver` is false (a soft re-plug follows, which makes a new device of the stick),
    // the node released. Done by the destructor when not called.
    void Release(bool bindDriver = true) override;

    // Whether the disk driver is off the stick now, and the SCSI device's name ("2:0:0:0").
    bool DriverOff() const { return driverOff_; }
    const std::string& DeviceName() const { return deviceName_; }

  private:
    bool WaitForDiskDriver();
    bool OpenDisksExclusively(std::string* reason, bool* busy);
    void CloseDisks();
    void PollingOff();

    std::string sysDir_;
    std::string devDir_;
    SgioPort* port_ = nullptr;
    std::uint32_t place_ = 0;
    std::string device_;              // the SCSI device's sysfs folder
    std::string deviceName_;          // its name, as the driver's bind and unbind take it
    std::string driverDir_;           // the driver's sysfs folder while it is off the stick
    std::vector<std::string> disks_;  // the disk (sdb) and its partitions (sdb1, ...)
    std::vector<int> diskFds_;
    std::vector<std::pair<std::string, std::string>> polling_;  // file, value before
    bool driverOff_ = false;
    bool held_ = false;
};

// Whether a process may send the reader's own commands through `node`: always through a
// generic node; through a disk node only with the CAP_SYS_RAWIO capability, which the kernel
// asks of a vendor command there. False with the reason, said plainly. `statusFile` is the
// process's status (its CapEff line).
bool MayCarryVendorCommands(const std::string& node, std::string* reason,
                            const std::string& statusFile = "/proc/self/status");
