#pragma once
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "reader/sgio.h"
#include "sim/sim_port.h"

// The Linux kernel's side of SG_IO over a simulated machine: each drive of the machine is a
// node "/dev/sgN" (N its place), each SG_IO request one command. As the USB storage driver does,
// a CHECK CONDITION comes back with the sense data already fetched from the device.
class SimKernel final : public SgDeviceIo {
  public:
    explicit SimKernel(sim::SimBus& bus) : port_(bus, true) {}

    std::vector<std::string> Nodes() const {
        std::vector<std::string> nodes;
        for (std::uint32_t place = 0; place < port_.PlaceCount(); ++place) {
            nodes.push_back(NodeName(place));
        }
        return nodes;
    }
    static std::string NodeName(std::uint32_t place) { return "/dev/sg" + std::to_string(place); }

    int Open(const char* path) override {
        const std::string name = path;
        for (std::uint32_t place = 0; place < port_.PlaceCount(); ++place) {
            if (name != NodeName(place)) continue;
            return port_.Open(place) ? static_cast<int>(place) : -ENXIO;
        }
        return -ENOENT;
    }

    int SgIo(int fd, sg_io_hdr_t* header) override {
        if (header->interface_id != 'S' || header->cmd_len < 6 || header->cmd_len > 16) {
            return -EINVAL;
        }
        DataPhase phase = DataPhase::None;
        if (header->dxfer_direction == SG_DXFER_FROM_DEV) phase = DataPhase::In;
        if (header->dxfer_direction == SG_DXFER_TO_DEV) phase = DataPhase::Out;
        const std::uint32_t length = phase == DataPhase::None ? 0 : header->dxfer_len;
        const std::uint8_t cdbLength = header->cmd_len < 12 ? header->cmd_len : 12;
        const CommandOutcome outcome =
            port_.Execute(PortAddress{static_cast<std::uint32_t>(fd), 0}, header->cmdp, cdbLength,
                          phase, header->dxferp, length, 2);
        header->resid = 0;
        header->duration = 0;
        switch (outcome.status) {
            case CommandStatus::Good:
                return 0;
            case CommandStatus::NoDevice:
                return -ENODEV;
            case CommandStatus::TimedOut:
                header->host_status = kSgHostTimeOut;
                header->duration = header->timeout;
                header->info = SG_INFO_CHECK;
                return 0;
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

    void Close(int) override {}

  private:
    sim::SimPort port_;
};
