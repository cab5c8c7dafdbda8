#include <fcntl.h>
#include <linux/fs.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "reader/sgio.h"

namespace {

class KernelSgDeviceIo final : public SgDeviceIo {
  public:
    int Open(const char* path, bool exclusive) override {
        // O_NONBLOCK lets a removable disk without a medium be opened at all, and makes a
        // generic node that another holds exclusively refuse at once (EBUSY) instead of waiting;
        // the commands themselves are still waited for.
        const int flags = O_NONBLOCK | O_CLOEXEC | (exclusive ? O_EXCL : 0);
        int fd = ::open(path, O_RDWR | flags);
        // The disk driver refuses to open a write-protected stick for writing; SG_IO does not
        // need the file to be writable, and the program must still be able to tell the user
        // that the stick is protected.
        if (fd < 0 && errno == EROFS) fd = ::open(path, O_RDONLY | flags);
        return fd >= 0 ? fd : -errno;
    }
    int SgIo(int fd, sg_io_hdr_t* header) override {
        return ::ioctl(fd, SG_IO, header) >= 0 ? 0 : -errno;
    }
    int Submit(int fd, sg_io_hdr_t* header) override {
        const ssize_t written = ::write(fd, header, sizeof *header);
        if (written < 0) return -errno;
        return written == static_cast<ssize_t>(sizeof *header) ? 0 : -EIO;
    }
    int Collect(int fd, sg_io_hdr_t* header) override {
        // The node is non-blocking: the wait is poll's, which a signal breaks off and which is
        // then simply begun again.
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, -1) < 0) return -errno;
        const ssize_t got = ::read(fd, header, sizeof *header);
        if (got < 0) return -errno;
        return got == static_cast<ssize_t>(sizeof *header) ? 0 : -EIO;
    }
    std::uint32_t MaxTransfer(int fd, bool generic) override {
        // The generic driver answers in bytes, the disk driver in 512-byte sectors.
        if (generic) {
            int bytes = 0;
            return ::ioctl(fd, BLKSECTGET, &bytes) == 0 && bytes > 0
                       ? static_cast<std::uint32_t>(bytes)
                       : 0;
        }
        unsigned short sectors = 0;
        return ::ioctl(fd, BLKSECTGET, &sectors) == 0 ? std::uint32_t{sectors} * 512u : 0;
    }
    void Close(int fd) override { ::close(fd); }
};

int DxferDirection(DataPhase phase, std::uint32_t length) {
    if (length == 0) return SG_DXFER_NONE;
    switch (phase) {
        case DataPhase::In:
            return SG_DXFER_FROM_DEV;
        case DataPhase::Out:
            return SG_DXFER_TO_DEV;
        case DataPhase::None:
            break;
    }
    return SG_DXFER_NONE;
}

}  // namespace

const sigset_t& StopSignalSet() {
    static const sigset_t set = [] {
        // Every signal whose default would end the process without a word, but those of a
        // fault in the program itself (SIGSEGV, SIGBUS, SIGABRT, ...) and SIGPIPE, which the
        // command line ignores: a reader of its output that goes away ends no format.
        sigset_t signals;
        sigemptyset(&signals);
        for (int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM,
                           SIGPROF, SIGIO, SIGPWR, SIGXCPU}) {
            sigaddset(&signals, signal);
        }
        for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaddset(&signals, signal);
        return signals;
    }();
    return set;
}

int WithStopSignalsHeld(const std::function<int()>& call) {
    // A stop signal that ended the process in the middle of a command would leave it running on
    // the device with nobody to hear how it ended; held back, Ctrl-C is seen once the command
    // has finished, at most one command's time later.
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &StopSignalSet(), &previous);
    int result = call();
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return result;
}

SgDeviceIo& RealSgDeviceIo() {
    static KernelSgDeviceIo io;
    return io;
}

void BuildSgIoHeader(const std::uint8_t* cdb, std::uint8_t cdbLength, void* buffer,
                     std::uint32_t length, DataPhase phase, std::uint16_t timeoutSeconds,
                     std::uint8_t* sense, sg_io_hdr_t* header) {
    std::memset(header, 0, sizeof *header);
    header->interface_id = 'S';
    header->dxfer_direction = DxferDirection(phase, length);
    // A command without a data phase names no buffer, whatever the caller passed.
    bool hasData = header->dxfer_direction != SG_DXFER_NONE;
    header->cmd_len = cdbLength;
    header->mx_sb_len = kSgSenseBufferSize;
    header->iovec_count = 0;
    header->dxfer_len = hasData ? length : 0;
    header->dxferp = hasData ? buffer : nullptr;
    header->cmdp = const_cast<unsigned char*>(cdb);
    header->sbp = sense;
    header->timeout = static_cast<unsigned int>(timeoutSeconds) * 1000u;
    header->flags = 0;
    header->pack_id = 0;
    header->usr_ptr = nullptr;
}

CommandStatus ClassifySgIoReply(int result, const sg_io_hdr_t& header) {
    if (result < 0) {
        int error = -result;
        // ENODEV and ENXIO are what the kernel answers once a USB disk has been pulled.
        if (error == ENODEV || error == ENXIO) return CommandStatus::NoDevice;
        if (error == ETIMEDOUT) return CommandStatus::TimedOut;
        // Commands the system lets only some callers send: nothing reached the device.
        if (error == EPERM || error == EACCES) return CommandStatus::Refused;
        return CommandStatus::Failed;
    }
    switch (header.host_status) {
        case 0:
            break;
        case kSgHostNoConnect:
        case kSgHostBadTarget:
            return CommandStatus::NoDevice;
        case kSgHostTimeOut:
            return CommandStatus::TimedOut;
        case kSgHostTargetFailure:
        case kSgHostMediumError:
            return CommandStatus::Failed;  // what the device itself said
        default:
            // DID_ERROR, DID_RESET, DID_SOFT_ERROR and the rest: the way to the device failed.
            return CommandStatus::HostError;
    }
    std::uint16_t driver = header.driver_status & 0x0F;  // the upper bits are suggestions
    if (driver == kSgDriverTimeOut) return CommandStatus::TimedOut;
    if (driver != 0 && driver != kSgDriverSense) return CommandStatus::Failed;
    if (header.status == kScsiStatusCheckCondition) return CommandStatus::CheckCondition;
    if (header.status != kScsiStatusGood) return CommandStatus::Failed;
    return CommandStatus::Good;
}

namespace {

// The generic driver's request: handed over once, then waited for until its reply is there,
// however often a signal breaks the wait off.
int SubmitAndCollect(SgDeviceIo& io, int fd, sg_io_hdr_t* header) {
    int rc = io.Submit(fd, header);
    if (rc < 0) return rc;
    do {
        rc = io.Collect(fd, header);
    } while (rc == -EINTR || rc == -EAGAIN);
    return rc;
}

}  // namespace

CommandOutcome SgioExecute(SgDeviceIo& io, int fd, SgRoute route, const std::uint8_t* cdb,
                           std::uint8_t cdbLength, void* buffer, std::uint32_t length,
                           DataPhase phase, std::uint16_t timeoutSeconds, int* error) {
    CommandOutcome outcome;
    if (error != nullptr) *error = 0;
    sg_io_hdr_t header;
    BuildSgIoHeader(cdb, cdbLength, buffer, length, phase, timeoutSeconds, outcome.sense.data(),
                    &header);
    const int rc = WithStopSignalsHeld([&] {
        return route == SgRoute::WriteRead ? SubmitAndCollect(io, fd, &header)
                                           : io.SgIo(fd, &header);
    });
    outcome.status = ClassifySgIoReply(rc, header);
    if (rc < 0) {
        if (error != nullptr) *error = -rc;
        outcome.sense.fill(0);
        return outcome;
    }
    std::uint32_t asked = header.dxfer_len;
    // A residual count beyond the transfer would be a driver fault; count it as nothing moved.
    std::uint32_t residual = header.resid > 0 ? static_cast<std::uint32_t>(header.resid) : 0;
    outcome.transferred = residual <= asked ? asked - residual : 0;
    if (header.dxfer_direction == SG_DXFER_FROM_DEV && outcome.transferred < asked) {
        std::memset(static_cast<std::uint8_t*>(buffer) + outcome.transferred, 0,
                    asked - outcome.transferred);
    }
    if (outcome.status == CommandStatus::CheckCondition) {
        outcome.senseLength =
            header.sb_len_wr <= kSgSenseBufferSize ? header.sb_len_wr : kSgSenseBufferSize;
    } else {
        outcome.sense.fill(0);
    }
    return outcome;
}
