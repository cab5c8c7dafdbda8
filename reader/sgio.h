#pragma once
#include <scsi/sg.h>

#include <cstdint>
#include <functional>

// One SCSI command through the Linux SCSI generic interface (the SG_IO request on /dev/sg* and
// /dev/sd* nodes). The request carries the same 12-byte command blocks, directions, lengths and
// time-outs as the Windows back-ends; only the packaging differs.
//
// Everything that touches the nodes goes through SgDeviceIo, so that tests (and the simulated
// flash disk of the command line) can stand in for the kernel.

enum class SgDirection { None, In, Out };

// The three system calls the back-end makes. The real one (RealSgDeviceIo) calls open, ioctl and
// close; results are the kernel's, with errors as negative errno values.
class SgDeviceIo {
  public:
    virtual ~SgDeviceIo() = default;
    // A file descriptor (>= 0) for the node, or -errno.
    virtual int Open(const char* path) = 0;
    // The SG_IO ioctl: 0 when the request was carried (its outcome is then in the header), or
    // -errno when the kernel refused it.
    virtual int SgIo(int fd, sg_io_hdr_t* header) = 0;
    virtual void Close(int fd) = 0;
};

SgDeviceIo& RealSgDeviceIo();

// Runs `call` with SIGINT, SIGTERM and SIGHUP held back, and returns its result; a signal that
// arrived meanwhile is delivered afterwards. The real back-end wraps each SG_IO request in it.
int WithStopSignalsHeld(const std::function<int()>& call);

constexpr std::uint8_t kSgCommandLength = 12;
// Room for fixed-format sense data; the reader sends 18 bytes.
constexpr std::uint8_t kSgSenseBufferSize = 32;

// SCSI status byte values the back-end distinguishes.
constexpr std::uint8_t kScsiStatusGood = 0x00;
constexpr std::uint8_t kScsiStatusCheckCondition = 0x02;

// Host and driver status values of the kernel's reply (include/scsi/scsi.h in the kernel; not
// all C libraries export them).
constexpr std::uint16_t kSgHostNoConnect = 0x01;  // DID_NO_CONNECT: the device is gone
constexpr std::uint16_t kSgHostTimeOut = 0x03;    // DID_TIME_OUT
constexpr std::uint16_t kSgDriverTimeOut = 0x06;  // DRIVER_TIMEOUT
constexpr std::uint16_t kSgDriverSense = 0x08;    // DRIVER_SENSE: sense data was collected

enum class SgOutcome {
    Good,            // completed with SCSI status GOOD
    CheckCondition,  // completed with CHECK CONDITION; the sense data is in the result
    Failed,          // any other SCSI status, a host or driver error, a refused request
    TimedOut,        // the command did not complete within its time-out
    DeviceGone,      // the device is not there any more (unplugged)
};

struct SgCommandResult {
    SgOutcome outcome = SgOutcome::Failed;
    std::uint8_t scsiStatus = 0;
    std::uint32_t transferred = 0;  // data bytes moved (length minus the residual count)
    int error = 0;                  // errno when the ioctl itself failed, else 0
    std::uint8_t senseLength = 0;   // sense bytes the kernel collected on CHECK CONDITION
    std::uint8_t sense[kSgSenseBufferSize] = {};
};

// Fills an sg_io_hdr_t for one command. `sense` must have kSgSenseBufferSize bytes; buffer may be
// null only when length is 0.
void BuildSgIoHeader(const std::uint8_t* cdb, void* buffer, std::uint32_t length,
                     SgDirection direction, std::uint16_t timeoutSeconds, std::uint8_t* sense,
                     sg_io_hdr_t* header);

// Turns the ioctl's return value and the reply fields of the header into an outcome.
SgOutcome ClassifySgIoReply(int ioctlResult, const sg_io_hdr_t& header);

// Sends one command and classifies the reply. A data-in command that moved fewer bytes than
// asked for has the rest of the buffer cleared, so that nothing stale is taken for a reply.
SgCommandResult SgioExecute(SgDeviceIo& io, int fd, const std::uint8_t* cdb, void* buffer,
                            std::uint32_t length, SgDirection direction,
                            std::uint16_t timeoutSeconds);
