#pragma once
#include <scsi/sg.h>
#include <signal.h>

#include <cstdint>
#include <functional>

#include "reader/scsi_port.h"

// One SCSI command through the Linux SCSI generic interface, built straight from the command
// block, the data phase, the length and the time-out. The kernel fetches the sense data itself
// when a command ends in CHECK CONDITION; it comes back with the reply.
//
// A generic node (/dev/sgN) gets each command by the generic driver's write and read: the write
// hands the command over, the read waits for its reply. A signal that breaks the wait off (a
// stop and continue, a terminal resized) leaves the command to finish and the read waits again;
// the SG_IO request there would be sent anew when the system restarts it, and the device would
// carry the command out twice. A disk node (/dev/sdX) gets the SG_IO request, which the block
// layer waits for without a break.
//
// Everything that touches the nodes goes through SgDeviceIo, so that tests can stand in for the
// kernel.

// The system calls the back-end makes. The real one (KernelSgDeviceIo) calls open, ioctl, write,
// poll, read and close; results are the kernel's, with errors as negative errno values.
class SgDeviceIo {
  public:
    virtual ~SgDeviceIo() = default;
    // A file descriptor (>= 0) for the node, or -errno. `exclusive`: no other opener, now or
    // while it is open (the generic driver's O_EXCL; -EBUSY when the node is open elsewhere).
    virtual int Open(const char* path, bool exclusive) = 0;
    // The SG_IO ioctl (disk nodes): 0 when the request was carried (its outcome is then in the
    // header), or -errno when the kernel refused it.
    virtual int SgIo(int fd, sg_io_hdr_t* header) = 0;
    // The generic driver's write: hands the command over; 0, or -errno when it was refused.
    virtual int Submit(int fd, sg_io_hdr_t* header) = 0;
    // The generic driver's read: waits for the reply of the command handed over and fills the
    // header's reply fields; 0, -EINTR when a signal broke the wait off (the command goes on:
    // collect again), or another -errno (-ENODEV: the device went away).
    virtual int Collect(int fd, sg_io_hdr_t* header) = 0;
    // The most bytes the system lets one command carry on the node (a generic node or a disk
    // node, as `generic` says); 0 when it does not say.
    virtual std::uint32_t MaxTransfer(int fd, bool generic) = 0;
    virtual void Close(int fd) = 0;
    // Runs one request, from its hand-over to its reply, and returns its result. The kernel's
    // calls hold the program's stop signals back meanwhile (KernelSgDeviceIo); a stand-in runs
    // it as it is.
    virtual int Carry(const std::function<int()>& request) { return request(); }
};

// The calls on this machine's kernel. The signals of `heldDuringRequests` are held back while a
// request is with the kernel: one that ended the process in the middle of a command would leave
// the command running on the device with nobody to hear how it ended. Held back, it is seen once
// the command has finished, at most one command's time later.
class KernelSgDeviceIo final : public SgDeviceIo {
  public:
    // Holds no signal back.
    KernelSgDeviceIo();
    explicit KernelSgDeviceIo(const sigset_t& heldDuringRequests);

    int Open(const char* path, bool exclusive) override;
    int SgIo(int fd, sg_io_hdr_t* header) override;
    int Submit(int fd, sg_io_hdr_t* header) override;
    int Collect(int fd, sg_io_hdr_t* header) override;
    std::uint32_t MaxTransfer(int fd, bool generic) override;
    void Close(int fd) override;
    int Carry(const std::function<int()>& request) override;

  private:
    sigset_t held_;
};

// Runs `call` with the signals of `held` held back, and returns its result; a signal that
// arrived meanwhile is delivered afterwards.
int WithSignalsHeld(const sigset_t& held, const std::function<int()>& call);

// Room for fixed-format sense data; the reader sends 18 bytes.
constexpr std::uint8_t kSgSenseBufferSize = kMaxSenseBytes;

// SCSI status byte values the back-end distinguishes.
constexpr std::uint8_t kScsiStatusGood = 0x00;
constexpr std::uint8_t kScsiStatusCheckCondition = 0x02;

// Host and driver status values of the kernel's reply (include/scsi/scsi_status.h in the
// kernel; not all C libraries export them).
constexpr std::uint16_t kSgHostNoConnect = 0x01;      // DID_NO_CONNECT: the device is gone
constexpr std::uint16_t kSgHostTimeOut = 0x03;        // DID_TIME_OUT
constexpr std::uint16_t kSgHostBadTarget = 0x04;      // DID_BAD_TARGET: no such device
constexpr std::uint16_t kSgHostError = 0x07;          // DID_ERROR: the host's own error
constexpr std::uint16_t kSgHostReset = 0x08;          // DID_RESET
constexpr std::uint16_t kSgHostSoftError = 0x0B;      // DID_SOFT_ERROR
constexpr std::uint16_t kSgHostTargetFailure = 0x10;  // DID_TARGET_FAILURE: the device's own
constexpr std::uint16_t kSgHostMediumError = 0x13;    // DID_MEDIUM_ERROR: the device's own
constexpr std::uint16_t kSgDriverTimeOut = 0x06;      // DRIVER_TIMEOUT
constexpr std::uint16_t kSgDriverSense = 0x08;        // DRIVER_SENSE: sense data was collected

// How a command travels to a node.
enum class SgRoute {
    Ioctl,      // the SG_IO request (disk nodes)
    WriteRead,  // the generic driver's write and read (generic nodes)
};

// Fills an sg_io_hdr_t for one command. `sense` must have kSgSenseBufferSize bytes; buffer may be
// null only when length is 0.
void BuildSgIoHeader(const std::uint8_t* cdb, std::uint8_t cdbLength, void* buffer,
                     std::uint32_t length, DataPhase phase, std::uint16_t timeoutSeconds,
                     std::uint8_t* sense, sg_io_hdr_t* header);

// Turns the request's return value and the reply fields of the header into a status. Every
// host status the device did not answer with (DID_ERROR, DID_RESET, DID_SOFT_ERROR, ...) is a
// HostError; a request the system refused for lack of rights (EPERM, EACCES) was not sent.
CommandStatus ClassifySgIoReply(int result, const sg_io_hdr_t& header);

// Sends one command and classifies the reply, with the sense bytes of a CHECK CONDITION as far
// as the device gave them. A data-in command that moved fewer bytes than asked for has the rest
// of the buffer cleared, so that nothing stale is taken for a reply. `error` (may be null)
// receives the errno of a refused request, else 0.
CommandOutcome SgioExecute(SgDeviceIo& io, int fd, SgRoute route, const std::uint8_t* cdb,
                           std::uint8_t cdbLength, void* buffer, std::uint32_t length,
                           DataPhase phase, std::uint16_t timeoutSeconds, int* error = nullptr);
