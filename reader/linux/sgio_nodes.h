#pragma once
#include <string>
#include <vector>

// The SCSI device nodes the Linux program may walk for readers, in the order it walks them.
//
// Every SCSI device has a generic node (/dev/sgN) when the sg driver is loaded, and a disk node
// (/dev/sdX) beside it when it is a disk. Both carry SG_IO to the same device, so a device must
// be walked once only: the generic nodes come first in their numeric order, then the disk nodes
// (whole disks, not partitions) that have no generic node beside them, in name order. Whether two
// nodes lead to the same device is read from sysfs; when sysfs cannot tell, both are kept.
//
// Nothing is opened and nothing is sent to any device here.
std::vector<std::string> FindScsiNodes(const std::string& devDir = "/dev",
                                       const std::string& sysDir = "/sys");

// The nodes worth asking who they are: those of FindScsiNodes whose device sysfs does not show
// to be something else than a USB-attached disk (peripheral type 0 under a USB device). A
// node sysfs knows nothing of is kept. Nothing is sent to any device here either.
std::vector<std::string> FindStickNodes(const std::string& devDir = "/dev",
                                        const std::string& sysDir = "/sys");

// The generic node (/dev/sgN) of the same device as a disk node (/dev/sdX); empty when it has
// none (the sg driver is not loaded) or sysfs cannot tell. A generic node is its own.
std::string GenericNodeOfDisk(const std::string& node, const std::string& devDir = "/dev",
                              const std::string& sysDir = "/sys");

// The first line of a sysfs attribute, without its line end; empty when it cannot be read.
std::string SysfsLine(const std::string& file);
// Writes `text` to a sysfs attribute (a switch of the kernel's); true when all of it was taken.
bool WriteSysfsAttribute(const std::string& file, const std::string& text);

// True for the names the walk takes: sg followed by digits, sd followed by letters.
bool IsGenericNodeName(const std::string& name);
bool IsDiskNodeName(const std::string& name);

// The mounted file systems that live on the disk behind a node (the disk itself or one of its
// partitions), as "/dev/sdb1 on /media/stick". A low-level format under a mounted file system
// would pull the ground from under it, so the format refuses to start while there are any.
std::vector<std::string> MountsOnDisk(const std::string& node, const std::string& sysDir = "/sys",
                                      const std::string& mountsFile = "/proc/self/mounts");

// Everything that holds the disk behind a node: the mounted file systems of MountsOnDisk, swap
// areas on it ("/dev/sdb2 as swap") and kernel devices built over it or its partitions, such as
// device-mapper or RAID volumes ("sdb1 held by dm-0"). A format under any of them would destroy
// data still in use, so it refuses to start while the list is not empty.
std::vector<std::string> DiskUsers(const std::string& node, const std::string& sysDir = "/sys",
                                   const std::string& mountsFile = "/proc/self/mounts",
                                   const std::string& swapsFile = "/proc/swaps");

// The USB serial number of the stick behind a node, as the system read it from the device
// when it was plugged in (sysfs: the "serial" of the USB device above the SCSI device); empty
// when there is none. Nothing is sent to the device.
std::string UsbSerialOfNode(const std::string& node, const std::string& sysDir = "/sys");

// The SCSI device behind a node as sysfs names it (its folder, links resolved): the generic node
// and the disk node of one device give the same; empty when sysfs cannot tell.
std::string ScsiDeviceOfNode(const std::string& node, const std::string& sysDir = "/sys");

// The USB port the stick behind a node is plugged into, as the system names it ("1-1.2": bus 1,
// port 1 of the root hub, port 2 of the hub there); empty when it is not a USB device or sysfs
// cannot tell. Nothing is sent to the device.
std::string UsbPortOfNode(const std::string& node, const std::string& sysDir = "/sys");

// The USB device's sysfs folder above the stick behind a node (its links resolved); empty when
// it is not a USB device or sysfs cannot tell.
std::string UsbDeviceOfNode(const std::string& node, const std::string& sysDir = "/sys");

// The system's read-only flag of the disk behind a node (a write-protect switch the kernel saw):
// 1 read-only, 0 writable, -1 when the system does not say (no disk node, no sysfs).
int ReadOnlyFlagOfNode(const std::string& node, const std::string& sysDir = "/sys");
