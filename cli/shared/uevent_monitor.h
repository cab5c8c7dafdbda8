#pragma once
#include <cstddef>

// The kernel's announcements of devices that come and go (its uevents, on a netlink socket),
// so that a watch looks at the machine when something changed instead of asking every device
// again and again. The kernel's own messages are taken, not udev's: they come without udev
// running, as on a minimal system or in the test rig, and a look at sysfs tells the rest.
class UeventMonitor {
  public:
    UeventMonitor();
    ~UeventMonitor();
    UeventMonitor(const UeventMonitor&) = delete;
    UeventMonitor& operator=(const UeventMonitor&) = delete;

    // False when the system gives no socket (another network namespace, a kernel without it):
    // the caller then looks now and then instead.
    bool Listening() const { return fd_ >= 0; }
    // The socket, readable while messages wait (-1 when not listening): a wait can end on it.
    int Fd() const { return fd_; }
    // Whether a generic node or a disk came or went since the last call; takes in everything
    // that is waiting, and waits for nothing.
    bool Changed();

  private:
    int fd_ = -1;
};

// Whether one uevent message ("add@/devices/...\0ACTION=add\0SUBSYSTEM=block\0...") is about
// something a watch for sticks looks at: a generic node or a disk that came or went.
bool IsStickUevent(const char* message, std::size_t length);
