#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "cli/shared/exit_codes.h"
#include "cli/shared/host_devices.h"
#include "cli/shared/stick_claim.h"
#include "cli/shared/stop_signal_set.h"
#include "reader/linux/sgio_nodes.h"
#include "reader/linux/sgio_port.h"

namespace fs = std::filesystem;

namespace {

// The node a --device argument names, resolved (symbolic links such as /dev/disk/by-id/...
// followed), and a disk node taken to the generic node of its device where it has one: the
// commands go there, and the disk node can be freed of its driver for a run. False with a
// reason when it is not a SCSI generic node or a whole SCSI disk.
bool ResolveDeviceNode(const std::string& argument, std::string* node, std::string* error) {
    std::error_code failure;
    fs::path resolved = fs::canonical(argument, failure);
    if (failure) {
        *error = argument + ": no such device";
        return false;
    }
    std::string name = resolved.filename().string();
    struct stat info = {};
    bool isDevice =
        ::stat(resolved.c_str(), &info) == 0 && (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode));
    if (!isDevice || !(IsGenericNodeName(name) || IsDiskNodeName(name))) {
        *error = argument + ": not a SCSI generic node or a whole SCSI disk (/dev/sgN, /dev/sdX)";
        return false;
    }
    *node = resolved.string();
    const std::string generic = GenericNodeOfDisk(*node);
    if (!generic.empty()) *node = generic;
    return true;
}

// The SCSI nodes of this machine over SG_IO, and what sysfs tells of them.
class SgioDevices final : public HostDevices {
  public:
    explicit SgioDevices(std::vector<std::string> nodes)
        // The stop signals wait while a command is with the kernel (cli/shared/stop_signals.h).
        : kernelIo_(StopSignals()), port_(kernelIo_, std::move(nodes)) {}

    ScsiPort& Port() override { return port_; }
    // The nodes were narrowed down to the one --device names when the port was made.
    std::vector<std::uint32_t> Places() const override {
        std::vector<std::uint32_t> places;
        for (std::uint32_t place = 0; place < port_.PlaceCount(); ++place) places.push_back(place);
        return places;
    }
    int PermissionDenials() const override { return port_.PermissionDenials(); }
    std::vector<std::string> BusyNodes() const override { return port_.BusyNodes(); }

    bool Hold(std::uint32_t place, HeldStick::Scope scope, std::unique_ptr<HeldStick>* held,
              std::string* reason, bool* busy) override {
        auto claim = std::make_unique<StickClaim>();
        if (!claim->Take(port_, place, scope, reason, busy)) return false;
        *held = std::move(claim);
        return true;
    }

    std::string UsbSerial(const std::string& node) override { return UsbSerialOfNode(node); }
    std::string UsbPort(const std::string& node) override { return UsbPortOfNode(node); }

    bool StickNode(const std::string& argument, std::string* node, std::string* error) override {
        if (!ResolveDeviceNode(argument, node, error)) return false;
        const std::string device = ScsiDeviceOfNode(*node);
        if (device.empty()) return true;
        for (std::uint32_t place = 0; place < port_.PlaceCount(); ++place) {
            const std::string walked = port_.PlaceName(place);
            if (ScsiDeviceOfNode(walked) == device) {
                *node = walked;
                break;
            }
        }
        return true;
    }

    std::vector<std::string> Users(const std::string& node) override { return DiskUsers(node); }
    int ReadOnlyFlag(const std::string& node) override { return ReadOnlyFlagOfNode(node); }

    bool MayCarryVendorCommands(const std::string& node, std::string* reason) override {
        return ::MayCarryVendorCommands(node, reason);
    }

  private:
    KernelSgDeviceIo kernelIo_;  // before its port, which goes first
    SgioPort port_;
};

}  // namespace

std::unique_ptr<HostDevices> HostDevices::Open(const CliOptions& options, std::string* error,
                                               int* exitCode) {
    if (::geteuid() != 0) {
        *error =
            "raw commands to a USB disk need root: run brevant as root (sudo brevant ...), "
            "or try it on a simulated disk with --simulate";
        *exitCode = kExitNoDisk;
        return nullptr;
    }
    std::vector<std::string> nodes;
    if (!options.device.empty()) {
        std::string node;
        if (!ResolveDeviceNode(options.device, &node, error)) {
            *exitCode = kExitNoDisk;
            return nullptr;
        }
        nodes = {node};
    } else {
        nodes = FindStickNodes();
    }
    return std::make_unique<SgioDevices>(std::move(nodes));
}
