#pragma once
#include <scsi/sg.h>
#include <signal.h>

#include <cstdint>
#include <functional>

#include "reader/scsi_port.h"

// One SCSI command through the Linux SCSI generic interface (the SG_IO request on /dev/sg* and
// /dev/sd* nodes), built straight from the command block, the data phase, the length and the
// time-out. The kernel fetches the sense data itself when a command ends in CHECK CONDITION;
// it comes back with the reply.
//
// Everything that touches the nodes goes through SgDeviceIo, so that tests can stand in for the
// kernel.

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

// The signals by which a user (or the system) asks a run to stop: Ctrl-C, Ctrl-\ (SIGQUIT),
// kill, a closed terminal, a timer or a CPU limit; every signal that would end the process at
// once if nobody caught it, but for those of a fault in the program itself. The real back-end
// holds them back during each SG_IO request: the generic driver would give up waiting for a
// command when one arrives and leave it running on the device.
const sigset_t& StopSignalSet();

// Runs `call` with the stop signals held back, and returns its result; a signal that arrived
// meanwhile is delivered afterwards.
int WithStopSignalsHeld(const std::function<int()>& call);

// Room for fixed-format sense data; the reader sends 18 bytes.
constexpr std::uint8_t kSgSenseBufferSize = kMaxSenseBytes;

// SCSI status byte values the back-end distinguishes.
constexpr std::uint8_t kScsiStatusGood = 0x00;
constexpr std::uint8_t kScsiStatusCheckCondition = 0x02;

// Host and driver status values of the kernel's reply (include/scsi/scsi.h in the kernel; not
// all C libraries export them).
constexpr std::uint16_t kSgHostNoConnect = 0x01;  // DID_NO_CONNECT: the device is gone
constexpr std::uint16_t kSgHostTimeOut = 0x03;    // DID_TIME_OUT
constexpr std::uint16_t kSgDriverTimeOut = 0x06;  // DRIVER_TIMEOUT
constexpr std::uint16_t kSgDriverSense = 0x08;    // DRIVER_SENSE: sense data was collected

// Fills an sg_io_hdr_t for one command. `sense` must have kSgSenseBufferSize bytes; buffer may be
// null only when length is 0.
void BuildSgIoHeader(const std::uint8_t* cdb, std::uint8_t cdbLength, void* buffer,
                     std::uint32_t length, DataPhase phase, std::uint16_t timeoutSeconds,
                     std::uint8_t* sense, sg_io_hdr_t* header);

// Turns the ioctl's return value and the reply fields of the header into a status.
CommandStatus ClassifySgIoReply(int ioctlResult, const sg_io_hdr_t& header);

// Sends one command and classifies the reply, with the sense bytes of a CHECK CONDITION. A
// data-in command that moved fewer bytes than asked for has the rest of the buffer cleared, so
// that nothing stale is taken for a reply. `error` (may be null) receives the errno of a
// refused ioctl, else 0.
CommandOutcome SgioExecute(SgDeviceIo& io, int fd, const std::uint8_t* cdb, std::uint8_t cdbLength,
                           void* buffer, std::uint32_t length, DataPhase phase,
                           std::uint16_t timeoutSeconds, int* error = nullptr);
