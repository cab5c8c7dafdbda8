#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "cli/shared/uevent_monitor.h"

namespace {

// The kernel's group of uevent messages (udev's own are group 2).
constexpr unsigned kKernelGroup = 1;
constexpr std::size_t kMessageRoom = 8192;

}  // namespace

UeventMonitor::UeventMonitor() {
    const int fd =
        ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
    if (fd < 0) return;
    sockaddr_nl address = {};
    address.nl_family = AF_NETLINK;
    address.nl_groups = kKernelGroup;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return;
    }
    fd_ = fd;
}

UeventMonitor::~UeventMonitor() {
    if (fd_ >= 0) ::close(fd_);
}

bool UeventMonitor::Changed() {
    bool changed = false;
    char message[kMessageRoom];
    for (;;) {
        const ssize_t got = ::recv(fd_, message, sizeof message, MSG_DONTWAIT);
        if (got <= 0) break;  // nothing more waiting (or no socket)
        changed = IsStickUevent(message, static_cast<std::size_t>(got)) || changed;
    }
    return changed;
}

bool IsStickUevent(const char* message, std::size_t length) {
    std::string action, subsystem;
    // The fields follow the "ACTION@DEVPATH" header, each ended by a zero byte.
    for (std::size_t at = 0; at < length;) {
        const char* field = message + at;
        const std::size_t size = strnlen(field, length - at);
        const std::string text(field, size);
        if (text.compare(0, 7, "ACTION=") == 0) action = text.substr(7);
        if (text.compare(0, 10, "SUBSYSTEM=") == 0) subsystem = text.substr(10);
        at += size + 1;
    }
    // A plug-in announces a dozen devices (the USB device and its interface, the SCSI host,
    // target and device, the drivers bound to them...); a watch can only do something once the
    // node it opens is there or gone: a generic node, or a disk node where there is no sg.
    if (action != "add" && action != "remove") return false;
    return subsystem == "scsi_generic" || subsystem == "block";
}
