#pragma once
#include <string>
#include <vector>

// The mounted file systems that live on the disk behind a node (the disk itself or one of its
// partitions), as "/dev/sdb1 on /media/stick". A low-level format under a mounted file system
// would pull the ground from under it, so the format refuses to start while there are any.
std::vector<std::string> MountsOnDisk(const std::string& node, const std::string& sysDir = "/sys",
                                      const std::string& mountsFile = "/proc/self/mounts");
