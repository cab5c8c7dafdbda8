#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "cli/shared/stick_claim.h"
#include "reader/linux/sgio_nodes.h"
#include "reader/linux/sgio_port.h"

namespace fs = std::filesystem;

namespace {

// A stick just plugged in is still being looked at by the disk driver for a moment; its
// partitions are known once the driver has it.
constexpr auto kDriverWait = std::chrono::seconds(3);
constexpr auto kDriverLook = std::chrono::milliseconds(20);

// CAP_SYS_RAWIO, the capability the kernel asks of a vendor command sent through a disk node.
constexpr int kCapSysRawIo = 17;

bool IsDir(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

}  // namespace

StickClaim::StickClaim(std::string sysDir, std::string devDir)
    : sysDir_(std::move(sysDir)), devDir_(std::move(devDir)) {}

StickClaim::~StickClaim() { Release(); }

bool StickClaim::WaitForDiskDriver() {
    const fs::path driver = fs::path(device_) / "driver";
    const bool diskDriverThere = IsDir(fs::path(sysDir_) / "bus/scsi/drivers/sd");
    if (!diskDriverThere || SysfsLine(fs::path(device_) / "type") != "0") return IsDir(driver);
    const auto limit = std::chrono::steady_clock::now() + kDriverWait;
    while (!IsDir(driver) && IsDir(device_) && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(kDriverLook);
    }
    return IsDir(driver);
}

bool StickClaim::OpenDisksExclusively(std::string* reason, bool* busy) {
    const std::string own = fs::path(port_->PlaceName(place_)).filename().string();
    // The partitions first: an exclusive open of the whole disk does not see them in use.
    for (auto it = disks_.rbegin(); it != disks_.rend(); ++it) {
        if (*it == own) continue;  // the node itself, held exclusively already
        const fs::path node = fs::path(devDir_) / *it;
        const int fd = ::open(node.c_str(), O_RDONLY | O_EXCL | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            diskFds_.push_back(fd);
            continue;
        }
        if (errno == ENOENT || errno == ENXIO) continue;  // no node for it, or just gone
        *busy = errno == EBUSY;
        *reason = node.string() +
                  (*busy ? " is in use (a mounted file system, swap, a volume built over it, or "
                           "another program's exclusive open)"
                         : ": cannot be opened exclusively: " + std::string(std::strerror(errno)));
        CloseDisks();
        return false;
    }
    return true;
}

void StickClaim::CloseDisks() {
    for (int fd : diskFds_) ::close(fd);
    diskFds_.clear();
}

void StickClaim::PollingOff() {
    for (const std::string& disk : disks_) {
        const fs::path file = fs::path(sysDir_) / "block" / disk / "events_poll_msecs";
        const std::string before = SysfsLine(file);
        if (before.empty() || before == "0") continue;  // a partition, or not polled
        if (WriteSysfsAttribute(file, "0")) polling_.emplace_back(file.string(), before);
    }
}

bool StickClaim::Take(SgioPort& port, std::uint32_t place, Scope scope, std::string* reason,
                      bool* busy) {
    *busy = false;
    port_ = &port;
    place_ = place;
    device_ = ScsiDeviceOfNode(port.PlaceName(place), sysDir_);
    deviceName_ = device_.empty() ? std::string() : fs::path(device_).filename().string();
    const bool driverThere = !device_.empty() && WaitForDiskDriver();

    const int error = port.Hold(place);
    if (error != 0) {
        *busy = error == EBUSY;
        *reason = port.PlaceName(place) +
                  (*busy ? ": in use by another program (another brevant at work on it?)"
                         : ": cannot be opened: " + std::string(std::strerror(error)));
        return false;
    }
    held_ = true;

    disks_.clear();
    std::error_code failure;
    for (fs::directory_iterator it(fs::path(device_) / "block", failure), end;
         !device_.empty() && !failure && it != end; it.increment(failure)) {
        const std::string disk = it->path().filename().string();
        disks_.push_back(disk);
        std::error_code inner;
        for (fs::directory_iterator part(fs::path(sysDir_) / "block" / disk, inner), stop;
             !inner && part != stop; part.increment(inner)) {
            const std::string name = part->path().filename().string();
            if (name.compare(0, disk.size(), disk) == 0 && name != disk &&
                fs::exists(part->path() / "partition", inner)) {
                disks_.push_back(name);
            }
        }
    }
    // The media polling off before the exclusive opens: the kernel answers the change with a
    // look at the medium of its own (a TEST UNIT READY), and an open of the disk waits for such
    // a look to be over, so that none falls among the run's commands.
    PollingOff();
    if (!OpenDisksExclusively(reason, busy)) {
        Release();
        return false;
    }

    // The disk driver off: only where the commands go through the generic node, which stays.
    const bool generic = IsGenericNodeName(fs::path(port.PlaceName(place)).filename().string());
    if (scope == Scope::DriverOff && generic && driverThere) {
        std::error_code ignored;
        const fs::path driver = fs::canonical(fs::path(device_) / "driver", ignored);
        if (driver.filename() == "sd" && WriteSysfsAttribute(driver / "unbind", deviceName_)) {
            driverDir_ = driver.string();
            driverOff_ = true;
            CloseDisks();  // their block device is gone with the driver
        }
    }
    return true;
}

void StickClaim::Release(bool bindDriver) {
    CloseDisks();
    if (driverOff_ && bindDriver && IsDir(device_)) {
        WriteSysfsAttribute(fs::path(driverDir_) / "bind", deviceName_);
    }
    driverOff_ = false;
    // After the driver is back, so that the disk it makes again is polled as before (a disk
    // that did not come back has nothing to write to).
    for (const auto& [file, value] : polling_) WriteSysfsAttribute(file, value);
    polling_.clear();
    if (held_ && port_ != nullptr) port_->Release(place_);
    held_ = false;
}

bool MayCarryVendorCommands(const std::string& node, std::string* reason,
                            const std::string& statusFile) {
    if (!IsDiskNodeName(fs::path(node).filename().string())) return true;
    std::ifstream in(statusFile);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 7, "CapEff:") != 0) continue;
        unsigned long long capabilities = 0;
        std::istringstream(line.substr(7)) >> std::hex >> capabilities;
        if ((capabilities >> kCapSysRawIo & 1u) != 0) return true;
        *reason = node +
                  ": it has no SCSI generic node (the sg driver is not loaded: modprobe sg), and "
                  "through a disk node the system lets only a process with the CAP_SYS_RAWIO "
                  "capability send the reader's own commands; this one lacks it";
        return false;
    }
    return true;  // the system does not say: the commands will tell
}
