#pragma once
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "reader/linux/sgio.h"
#include "sim/sim_port.h"

// The Linux kernel's side of SG_IO over a simulated machine: each drive of the machine is a
// node "/dev/sgN" (N its place), each request one command, by the generic driver's write and
// read or by the SG_IO ioctl. As the USB storage driver does, a CHECK CONDITION comes back with
// the sense data already fetched from the device. What a real kernel does besides can be asked
// for: signals that break the reads off, a pull whose commands first end with DID_ERROR, the
// host's errors on commands, a reset of the stick after a time-out, a transfer limit, the
// generic driver's exclusive opens.
class SimKernel final : public SgDeviceIo {
  public:
    explicit SimKernel(sim::SimBus& bus) : bus_(bus), port_(bus, true) {}

    std::vector<std::string> Nodes() const {
        std::vector<std::string> nodes;
        for (std::uint32_t place = 0; place < port_.PlaceCount(); ++place) {
            nodes.push_back(NodeName(place));
        }
        return nodes;
    }
    static std::string NodeName(std::uint32_t place) { return "/dev/sg" + std::to_string(place); }

    // Every wait for a reply is broken off `count` times by a signal before the reply is taken
    // (a stop and continue, a resized terminal).
    void InterruptEveryWait(int count) { interruptsPerWait_ = count; }
    std::uint64_t Interruptions() const { return interruptions_; }
    // Once the device is gone, `count` more commands end with DID_ERROR before ENODEV.
    void HostErrorsAfterPull(int count) { hostErrorsAfterPull_ = count; }
    // The n-th command from now (1: the next) ends with the host status given, after it reached
    // the device (`reached`) or without.
    void HostErrorOnCommand(std::uint32_t n, std::uint16_t hostStatus, bool reached) {
        hostErrorOn_ = n;
        hostErrorStatus_ = hostStatus;
        hostErrorReached_ = reached;
    }
    // From the n-th command from now on, every command ends with DID_ERROR without reaching the
    // device, which stays (a host adapter gone wrong).
    void HostErrorsFrom(std::uint32_t n) { hostErrorsFrom_ = n; }
    // A command that times out makes the kernel reset the stick (as usb-storage resets the port).
    void ResetAfterTimeOut(bool on) { resetAfterTimeOut_ = on; }
    // Every command whose block `matches` gets no answer from the stick and times out, however
    // often it is sent (the stick hangs on it).
    void TimeOutWhen(std::function<bool(const std::uint8_t* cdb)> matches) {
        timeOutWhen_ = std::move(matches);
    }
    // The most bytes one command may carry (0: the kernel does not say).
    void SetMaxTransfer(std::uint32_t bytes) { maxTransfer_ = bytes; }
    // Commands that reached the machine, and the largest data phase of any.
    std::uint64_t Executed() const { return executed_; }
    std::uint32_t LargestTransfer() const { return largest_; }

    int Open(const char* path, bool exclusive) override {
        const std::string name = path;
        for (std::uint32_t place = 0; place < port_.PlaceCount(); ++place) {
            if (name != NodeName(place)) continue;
            int openers = 0;
            for (const auto& [fd, open] : open_) {
                if (open.place != place) continue;
                ++openers;
                if (open.exclusive) return -EBUSY;
            }
            if (exclusive && openers != 0) return -EBUSY;
            if (!port_.Open(place)) return -ENXIO;
            const int fd = nextFd_++;
            open_[fd] = OpenNode{place, exclusive, {}};
            return fd;
        }
        return -ENOENT;
    }

    int SgIo(int fd, sg_io_hdr_t* header) override { return Run(fd, header); }

    int Submit(int fd, sg_io_hdr_t* header) override {
        auto it = open_.find(fd);
        if (it == open_.end()) return -EBADF;
        sg_io_hdr_t reply = *header;
        const int rc = Run(fd, &reply);
        if (rc < 0) return rc;
        it->second.replies.push_back(Pending{reply, interruptsPerWait_});
        return 0;
    }

    int Collect(int fd, sg_io_hdr_t* header) override {
        auto it = open_.find(fd);
        if (it == open_.end()) return -EBADF;
        auto& replies = it->second.replies;
        if (replies.empty()) return -EAGAIN;
        if (replies.front().interruptsLeft > 0) {
            --replies.front().interruptsLeft;
            ++interruptions_;
            return -EINTR;
        }
        *header = replies.front().header;
        replies.erase(replies.begin());
        return 0;
    }

    std::uint32_t MaxTransfer(int, bool) override { return maxTransfer_; }

    void Close(int fd) override { open_.erase(fd); }

  private:
    struct Pending {
        sg_io_hdr_t header;
        int interruptsLeft;
    };
    struct OpenNode {
        std::uint32_t place;
        bool exclusive;
        std::vector<Pending> replies;  // replies not yet read
    };

    // Runs one request on the machine and fills the reply fields as the kernel does.
    int Run(int fd, sg_io_hdr_t* header) {
        auto it = open_.find(fd);
        if (it == open_.end()) return -EBADF;
        if (header->interface_id != 'S' || header->cmd_len < 6 || header->cmd_len > 16) {
            return -EINVAL;
        }
        DataPhase phase = DataPhase::None;
        if (header->dxfer_direction == SG_DXFER_FROM_DEV) phase = DataPhase::In;
        if (header->dxfer_direction == SG_DXFER_TO_DEV) phase = DataPhase::Out;
        const std::uint32_t length = phase == DataPhase::None ? 0 : header->dxfer_len;
        if (maxTransfer_ != 0 && length > maxTransfer_) return -EINVAL;
        const std::uint8_t cdbLength = header->cmd_len < 12 ? header->cmd_len : 12;
        header->resid = 0;
        header->duration = 0;
        if (hostErrorsFrom_ != 0 && --hostErrorsFrom_ == 0) hostErrorsForGood_ = true;
        if (hostErrorsForGood_) return HostStatus(header, kSgHostError);
        const bool hostError = hostErrorOn_ != 0 && --hostErrorOn_ == 0;
        if (hostError && !hostErrorReached_) return HostStatus(header, hostErrorStatus_);
        const std::uint32_t place = it->second.place;
        if (timeOutWhen_ && timeOutWhen_(header->cmdp)) return TimeOut(header, place);
        const CommandOutcome outcome = port_.Execute(PortAddress{place, 0}, header->cmdp, cdbLength,
                                                     phase, header->dxferp, length, 2);
        if (outcome.status != CommandStatus::NoDevice) {
            ++executed_;
            if (length > largest_) largest_ = length;
        }
        if (hostError) return HostStatus(header, hostErrorStatus_);
        switch (outcome.status) {
            case CommandStatus::Good:
                return 0;
            case CommandStatus::NoDevice:
                if (hostErrorsAfterPull_ > 0) {
                    --hostErrorsAfterPull_;
                    return HostStatus(header, kSgHostError);
                }
                return -ENODEV;
            case CommandStatus::TimedOut:
                return TimeOut(header, place);
            case CommandStatus::CheckCondition:
                break;
            default:
                return -EIO;
        }
        header->status = kScsiStatusCheckCondition;
        header->masked_status = kScsiStatusCheckCondition >> 1;
        header->info = SG_INFO_CHECK;
        if (outcome.senseLength != 0) {
            const std::uint8_t room =
                header->mx_sb_len < outcome.senseLength ? header->mx_sb_len : outcome.senseLength;
            std::memcpy(header->sbp, outcome.sense.data(), room);
            header->sb_len_wr = room;
            header->driver_status = kSgDriverSense;
        }
        return 0;
    }

    int TimeOut(sg_io_hdr_t* header, std::uint32_t place) {
        header->host_status = kSgHostTimeOut;
        header->duration = header->timeout;
        header->info = SG_INFO_CHECK;
        if (resetAfterTimeOut_ && port_.DeviceAt(place) != nullptr) {
            bus_.ResetDevice(*port_.DeviceAt(place));
        }
        return 0;
    }

    static int HostStatus(sg_io_hdr_t* header, std::uint16_t status) {
        header->host_status = status;
        header->info = SG_INFO_CHECK;
        return 0;
    }

    sim::SimBus& bus_;
    sim::SimPort port_;
    std::map<int, OpenNode> open_;
    int nextFd_ = 3;
    int interruptsPerWait_ = 0;
    std::uint64_t interruptions_ = 0;
    int hostErrorsAfterPull_ = 0;
    std::uint32_t hostErrorOn_ = 0;
    std::uint32_t hostErrorsFrom_ = 0;
    bool hostErrorsForGood_ = false;
    std::uint16_t hostErrorStatus_ = kSgHostError;
    bool hostErrorReached_ = false;
    bool resetAfterTimeOut_ = false;
    std::function<bool(const std::uint8_t*)> timeOutWhen_;
    std::uint32_t maxTransfer_ = 0;
    std::uint64_t executed_ = 0;
    std::uint32_t largest_ = 0;
};
