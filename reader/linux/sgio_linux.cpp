#include <cerrno>
#include <cstring>

#include "reader/linux/sgio.h"

namespace {

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
    const int rc = io.Carry([&] {
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
