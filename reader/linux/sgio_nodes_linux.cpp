#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>

#include "reader/linux/sgio_nodes.h"

namespace fs = std::filesystem;

std::string SysfsLine(const std::string& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

bool WriteSysfsAttribute(const std::string& file, const std::string& text) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return false;
    const ssize_t written = ::write(fd, text.data(), text.size());
    ::close(fd);
    return written == static_cast<ssize_t>(text.size());
}

namespace {

bool AllOf(const std::string& text, std::size_t from, int (*test)(int)) {
    if (text.size() <= from) return false;
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(),
                       [test](char c) { return test(static_cast<unsigned char>(c)) != 0; });
}

// The device folder a node's sysfs entry points at, or an empty path.
fs::path DeviceOf(const fs::path& sysEntry) {
    std::error_code error;
    fs::path device = fs::canonical(sysEntry / "device", error);
    return error ? fs::path() : device;
}

// The order the kernel hands the names out in: sg2 < sg10, sdz < sdaa (shorter names first).
bool KernelNameBefore(const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

}  // namespace

bool IsGenericNodeName(const std::string& name) {
    return name.compare(0, 2, "sg") == 0 && AllOf(name, 2, ::isdigit);
}

bool IsDiskNodeName(const std::string& name) {
    return name.compare(0, 2, "sd") == 0 && AllOf(name, 2, ::islower);
}

std::vector<std::string> FindScsiNodes(const std::string& devDir, const std::string& sysDir) {
    std::vector<std::string> generic, disks;
    std::error_code error;
    for (fs::directory_iterator it(devDir, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (IsGenericNodeName(name)) generic.push_back(name);
        if (IsDiskNodeName(name)) disks.push_back(name);
    }
    std::sort(generic.begin(), generic.end(), KernelNameBefore);
    std::sort(disks.begin(), disks.end(), KernelNameBefore);

    std::set<fs::path> covered;
    std::vector<std::string> nodes;
    for (const auto& name : generic) {
        fs::path device = DeviceOf(fs::path(sysDir) / "class" / "scsi_generic" / name);
        if (!device.empty()) covered.insert(device);
        nodes.push_back((fs::path(devDir) / name).string());
    }
    for (const auto& name : disks) {
        fs::path device = DeviceOf(fs::path(sysDir) / "block" / name);
        if (!device.empty() && covered.count(device) != 0) continue;
        nodes.push_back((fs::path(devDir) / name).string());
    }
    return nodes;
}

namespace {

// The block device names (sdb, ...) behind a node.
std::vector<std::string> DiskNamesOf(const std::string& node, const std::string& sysDir) {
    std::string name = fs::path(node).filename().string();
    if (IsDiskNodeName(name)) return {name};
    std::vector<std::string> names;
    if (!IsGenericNodeName(name)) return names;
    std::error_code error;
    fs::path blockDir = fs::path(sysDir) / "class" / "scsi_generic" / name / "device" / "block";
    for (fs::directory_iterator it(blockDir, error), end; !error && it != end;
         it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    return names;
}

// True when `device` is the disk `disk` or one of its partitions (sdb, sdb1, sdb12).
bool OnDisk(const std::string& device, const std::string& disk) {
    if (device.compare(0, disk.size(), disk) != 0) return false;
    std::string rest = device.substr(disk.size());
    return rest.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

std::vector<std::string> MountsOnDisk(const std::string& node, const std::string& sysDir,
                                      const std::string& mountsFile) {
    std::vector<std::string> found;
    std::vector<std::string> disks = DiskNamesOf(node, sysDir);
    if (disks.empty()) return found;
    std::ifstream mounts(mountsFile);
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string device, mountPoint;
        if (!(fields >> device >> mountPoint)) continue;
        if (device.compare(0, 5, "/dev/") != 0) continue;
        std::error_code error;
        fs::path real = fs::canonical(device, error);
        std::string name = (error ? fs::path(device) : real).filename().string();
        for (const auto& disk : disks) {
            if (OnDisk(name, disk)) found.push_back(device + " on " + mountPoint);
        }
    }
    return found;
}

namespace {

// The devices that sysfs lists as built over `entry` (a disk or a partition folder).
void AddHolders(const fs::path& entry, std::vector<std::string>* found) {
    std::error_code error;
    std::string name = entry.filename().string();
    for (fs::directory_iterator it(entry / "holders", error), end; !error && it != end;
         it.increment(error)) {
        found->push_back(name + " held by " + it->path().filename().string());
    }
}

}  // namespace

std::vector<std::string> DiskUsers(const std::string& node, const std::string& sysDir,
                                   const std::string& mountsFile, const std::string& swapsFile) {
    std::vector<std::string> found = MountsOnDisk(node, sysDir, mountsFile);
    std::vector<std::string> disks = DiskNamesOf(node, sysDir);

    std::ifstream swaps(swapsFile);
    std::string line;
    while (std::getline(swaps, line)) {
        std::istringstream fields(line);
        std::string device;
        if (!(fields >> device) || device.compare(0, 5, "/dev/") != 0) continue;  // the header
        std::error_code error;
        fs::path real = fs::canonical(device, error);
        std::string name = (error ? fs::path(device) : real).filename().string();
        for (const auto& disk : disks) {
            if (OnDisk(name, disk)) found.push_back(device + " as swap");
        }
    }

    for (const auto& disk : disks) {
        fs::path diskEntry = fs::path(sysDir) / "block" / disk;
        AddHolders(diskEntry, &found);
        std::error_code error;
        for (fs::directory_iterator it(diskEntry, error), end; !error && it != end;
             it.increment(error)) {
            std::string part = it->path().filename().string();
            if (part != disk && OnDisk(part, disk)) AddHolders(it->path(), &found);
        }
    }
    return found;
}

namespace {

// The SCSI device folder in sysfs behind a node, or an empty path.
fs::path ScsiDeviceFolder(const std::string& node, const std::string& sysDir) {
    const std::string name = fs::path(node).filename().string();
    if (IsGenericNodeName(name))
        return DeviceOf(fs::path(sysDir) / "class" / "scsi_generic" / name);
    if (IsDiskNodeName(name)) return DeviceOf(fs::path(sysDir) / "block" / name);
    return fs::path();
}

// The USB device folder above a node's SCSI device (the first one up that has idVendor), or an
// empty path.
fs::path UsbDeviceFolder(const std::string& node, const std::string& sysDir) {
    fs::path device = ScsiDeviceFolder(node, sysDir);
    for (; !device.empty() && device != device.root_path(); device = device.parent_path()) {
        std::error_code error;
        if (fs::exists(device / "idVendor", error)) return device;
    }
    return fs::path();
}

std::string Printable(const std::string& text) {
    std::string printable;
    for (char c : text.substr(0, 64)) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) printable += c;
    }
    return printable;
}

}  // namespace

std::string ScsiDeviceOfNode(const std::string& node, const std::string& sysDir) {
    return ScsiDeviceFolder(node, sysDir).string();
}

std::string UsbSerialOfNode(const std::string& node, const std::string& sysDir) {
    const fs::path device = UsbDeviceFolder(node, sysDir);
    if (device.empty()) return std::string();
    std::ifstream in(device / "serial");
    std::string serial;
    std::getline(in, serial);
    return Printable(serial);
}

std::string UsbDeviceOfNode(const std::string& node, const std::string& sysDir) {
    return UsbDeviceFolder(node, sysDir).string();
}

std::string UsbPortOfNode(const std::string& node, const std::string& sysDir) {
    return Printable(UsbDeviceFolder(node, sysDir).filename().string());
}

int ReadOnlyFlagOfNode(const std::string& node, const std::string& sysDir) {
    for (const std::string& disk : DiskNamesOf(node, sysDir)) {
        std::ifstream in(fs::path(sysDir) / "block" / disk / "ro");
        int flag = -1;
        if (in >> flag && (flag == 0 || flag == 1)) return flag;
    }
    return -1;
}

namespace {

// False when sysfs knows the node's device and it is not a disk on USB.
bool MayBeStick(const std::string& node, const std::string& sysDir) {
    const fs::path device = ScsiDeviceFolder(node, sysDir);
    if (device.empty()) return true;  // sysfs cannot tell
    const std::string type = SysfsLine(device / "type");
    if (!type.empty() && type != "0") return false;
    return !UsbDeviceFolder(node, sysDir).empty();
}

}  // namespace

std::vector<std::string> FindStickNodes(const std::string& devDir, const std::string& sysDir) {
    std::vector<std::string> nodes;
    for (std::string& node : FindScsiNodes(devDir, sysDir)) {
        if (MayBeStick(node, sysDir)) nodes.push_back(std::move(node));
    }
    return nodes;
}

std::string GenericNodeOfDisk(const std::string& node, const std::string& devDir,
                              const std::string& sysDir) {
    const std::string name = fs::path(node).filename().string();
    if (IsGenericNodeName(name)) return node;
    if (!IsDiskNodeName(name)) return std::string();
    std::error_code error;
    const fs::path generic = fs::path(sysDir) / "block" / name / "device" / "scsi_generic";
    for (fs::directory_iterator it(generic, error), end; !error && it != end; it.increment(error)) {
        const std::string sg = it->path().filename().string();
        if (!IsGenericNodeName(sg)) continue;
        const fs::path path = fs::path(devDir) / sg;
        if (fs::exists(path, error)) return path.string();
    }
    return std::string();
}
