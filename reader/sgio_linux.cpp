#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "reader/sgio.h"

namespace {

class KernelSgDeviceIo final : public SgDeviceIo {
  public:
    int Open(const char* path) override {
        // O_NONBLOCK lets a removable disk without a medium be opened at all; SG_IO itself
        // still waits for each command.
        int fd = ::open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
        // The disk driver refuses to open a write-protected stick for writing; SG_IO does not
        // need the file to be writable, and the program must still be able to tell the user
        // that the stick is protected.
        if (fd < 0 && errno == EROFS) fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        return fd >= 0 ? fd : -errno;
    }
    int SgIo(int fd, sg_io_hdr_t* header) override {
        return WithStopSignalsHeld([fd, header] {
            // An interrupted request has reached the device all the same: sending it again
            // would carry out a write or an erase twice, so EINTR is a failure like any other.
            int rc = ::ioctl(fd, SG_IO, header);
            return rc >= 0 ? 0 : -errno;
        });
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
    // The generic driver gives up waiting for a command when a signal arrives and leaves it
    // running on the device; held back, Ctrl-C is seen once the command has finished.
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

CommandStatus ClassifySgIoReply(int ioctlResult, const sg_io_hdr_t& header) {
    if (ioctlResult < 0) {
        int error = -ioctlResult;
        // ENODEV and ENXIO are what the kernel answers once a USB disk has been pulled.
        if (error == ENODEV || error == ENXIO) return CommandStatus::NoDevice;
        if (error == ETIMEDOUT) return CommandStatus::TimedOut;
        return CommandStatus::Failed;
    }
    if (header.host_status == kSgHostNoConnect) return CommandStatus::NoDevice;
    if (header.host_status == kSgHostTimeOut) return CommandStatus::TimedOut;
    if (header.host_status != 0) return CommandStatus::Failed;
    std::uint16_t driver = header.driver_status & 0x0F;  // the upper bits are suggestions
    if (driver == kSgDriverTimeOut) return CommandStatus::TimedOut;
    if (driver != 0 && driver != kSgDriverSense) return CommandStatus::Failed;
    if (header.status == kScsiStatusCheckCondition) return CommandStatus::CheckCondition;
    if (header.status != kScsiStatusGood) return CommandStatus::Failed;
    return CommandStatus::Good;
}

CommandOutcome SgioExecute(SgDeviceIo& io, int fd, const std::uint8_t* cdb, std::uint8_t cdbLength,
                           void* buffer, std::uint32_t length, DataPhase phase,
                           std::uint16_t timeoutSeconds, int* error) {
    CommandOutcome outcome;
    if (error != nullptr) *error = 0;
    sg_io_hdr_t header;
    BuildSgIoHeader(cdb, cdbLength, buffer, length, phase, timeoutSeconds, outcome.sense.data(),
                    &header);
    int rc = io.SgIo(fd, &header);
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
