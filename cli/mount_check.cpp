#include "cli/mount_check.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "reader/sgio_nodes.h"

namespace fs = std::filesystem;

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
