#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "cli/commands/soft_replug.h"
#include "cli/output/size_text.h"
#include "cli/shared/machine.h"
#include "cli/shared/messages.h"
#include "cli/shared/stick_choice.h"
#include "reader/linux/sgio_nodes.h"

namespace fs = std::filesystem;

namespace {

constexpr auto kLook = std::chrono::milliseconds(20);

// The entries of a folder whose names start with `prefix` (all with an empty one).
std::vector<fs::path> Entries(const fs::path& folder, const std::string& prefix = "") {
    std::vector<fs::path> found;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->path().filename().string().compare(0, prefix.size(), prefix) == 0) {
            found.push_back(it->path());
        }
    }
    return found;
}

// The SCSI devices of LUN 0 under a USB device: interface, host, target, device ("3:0:0:0").
std::vector<fs::path> FirstUnits(const fs::path& usbDevice) {
    std::vector<fs::path> units;
    for (const fs::path& interface : Entries(usbDevice)) {
        if (interface.filename().string().find(':') == std::string::npos) continue;
        for (const fs::path& host : Entries(interface, "host")) {
            for (const fs::path& target : Entries(host, "target")) {
                for (const fs::path& device : Entries(target)) {
                    const std::string name = device.filename().string();
                    if (name.size() > 2 && name.compare(name.size() - 2, 2, ":0") == 0) {
                        units.push_back(device);
                    }
                }
            }
        }
    }
    return units;
}

// The stick as the system has it again: its generic node and its disk, both in /dev.
bool BackAgain(const fs::path& usbDevice, const std::string& devDir, StickAgain* again) {
    for (const fs::path& unit : FirstUnits(usbDevice)) {
        const std::vector<fs::path> generic = Entries(unit / "scsi_generic", "sg");
        const std::vector<fs::path> disks = Entries(unit / "block", "sd");
        if (generic.empty() || disks.empty()) continue;
        const fs::path sg = fs::path(devDir) / generic[0].filename();
        const fs::path sd = fs::path(devDir) / disks[0].filename();
        std::error_code error;
        if (!fs::exists(sg, error) || !fs::exists(sd, error)) continue;
        again->genericNode = sg.string();
        again->diskNode = sd.string();
        again->sectors = std::strtoull(SysfsLine(disks[0] / "size").c_str(), nullptr, 10);
        return true;
    }
    return false;
}

template <typename Done>
bool WaitFor(std::chrono::steady_clock::time_point limit, Done done) {
    while (!done()) {
        if (std::chrono::steady_clock::now() >= limit) return false;
        std::this_thread::sleep_for(kLook);
    }
    return true;
}

}  // namespace

bool SoftReplug(const std::string& usbDevice, const std::string& serial, StickAgain* again,
                std::string* reason, std::chrono::milliseconds timeout, const std::string& devDir) {
    const fs::path device(usbDevice);
    const fs::path authorized = device / "authorized";
    const auto limit = std::chrono::steady_clock::now() + timeout;
    if (!WriteSysfsAttribute(authorized, "0")) {
        *reason = authorized.string() + " cannot be written";
        return false;
    }
    const bool letGo = WaitFor(limit, [&] { return FirstUnits(device).empty(); });
    // Whatever came of it, the stick is not left unauthorized.
    if (!WriteSysfsAttribute(authorized, "1")) {
        *reason = authorized.string() + " cannot be written back to 1: plug the stick in again";
        return false;
    }
    if (!letGo) {
        *reason = "the system did not let go of the stick";
        return false;
    }
    if (!WaitFor(limit, [&] { return BackAgain(device, devDir, again); })) {
        *reason = "the stick did not come back";
        return false;
    }
    if (SysfsLine(device / "serial") != serial) {
        *reason = "another stick came back at its USB port";
        return false;
    }
    return true;
}

bool ReplugRealStick(ChosenStick& stick, StickAgain* again, std::string* reason) {
    const std::string usbDevice = UsbDeviceOfNode(stick.unit.node);
    if (usbDevice.empty()) {
        *reason = "the system does not say which USB device it is";
        return false;
    }
    // The stick goes: the commands' node with it, and the driver comes back with the new device.
    stick.session->End(false);
    return SoftReplug(usbDevice, stick.identity.serial, again, reason);
}
