#include <fcntl.h>
#include <linux/fs.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "reader/linux/sgio.h"

KernelSgDeviceIo::KernelSgDeviceIo() { sigemptyset(&held_); }

KernelSgDeviceIo::KernelSgDeviceIo(const sigset_t& heldDuringRequests)
    : held_(heldDuringRequests) {}

int KernelSgDeviceIo::Open(const char* path, bool exclusive) {
    // O_NONBLOCK lets a removable disk without a medium be opened at all, and makes a generic
    // node that another holds exclusively refuse at once (EBUSY) instead of waiting; the
    // commands themselves are still waited for.
    const int flags = O_NONBLOCK | O_CLOEXEC | (exclusive ? O_EXCL : 0);
    int fd = ::open(path, O_RDWR | flags);
    // The disk driver refuses to open a write-protected stick for writing; SG_IO does not need
    // the file to be writable, and the program must still be able to tell the user that the
    // stick is protected.
    if (fd < 0 && errno == EROFS) fd = ::open(path, O_RDONLY | flags);
    return fd >= 0 ? fd : -errno;
}

int KernelSgDeviceIo::SgIo(int fd, sg_io_hdr_t* header) {
    return ::ioctl(fd, SG_IO, header) >= 0 ? 0 : -errno;
}

int KernelSgDeviceIo::Submit(int fd, sg_io_hdr_t* header) {
    const ssize_t written = ::write(fd, header, sizeof *header);
    if (written < 0) return -errno;
    return written == static_cast<ssize_t>(sizeof *header) ? 0 : -EIO;
}

int KernelSgDeviceIo::Collect(int fd, sg_io_hdr_t* header) {
    // The node is non-blocking: the wait is poll's, which a signal breaks off and which is then
    // simply begun again.
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, -1) < 0) return -errno;
    const ssize_t got = ::read(fd, header, sizeof *header);
    if (got < 0) return -errno;
    return got == static_cast<ssize_t>(sizeof *header) ? 0 : -EIO;
}

std::uint32_t KernelSgDeviceIo::MaxTransfer(int fd, bool generic) {
    // The generic driver answers in bytes, the disk driver in 512-byte sectors.
    if (generic) {
        int bytes = 0;
        return ::ioctl(fd, BLKSECTGET, &bytes) == 0 && bytes > 0 ? static_cast<std::uint32_t>(bytes)
                                                                 : 0;
    }
    unsigned short sectors = 0;
    return ::ioctl(fd, BLKSECTGET, &sectors) == 0 ? std::uint32_t{sectors} * 512u : 0;
}

void KernelSgDeviceIo::Close(int fd) { ::close(fd); }

int KernelSgDeviceIo::Carry(const std::function<int()>& request) {
    return WithSignalsHeld(held_, request);
}

int WithSignalsHeld(const sigset_t& held, const std::function<int()>& call) {
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &held, &previous);
    const int result = call();
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return result;
}
