#pragma once
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "reader/sgio.h"
#include "sim/sim_bus.h"

// The simulated machine seen as SCSI generic nodes, so that --simulate runs the very code the
// program runs on a real stick: the transport, the Linux OS layer and the SG_IO requests. Each
// drive letter of the bus is one node, named "sim:" and the letter ("sim:E"). The kernel's habit
// of fetching the sense data itself after CHECK CONDITION is copied too, so the simulated reader
// has none left when the program asks for it.
class SimSgDevice final : public SgDeviceIo {
  public:
    explicit SimSgDevice(sim::SimBus& bus) : bus_(bus) {}

    // The nodes of the bus's drive letters, C: to Z:, in order.
    std::vector<std::string> Nodes() const {
        std::vector<std::string> nodes;
        for (char letter = 'C'; letter <= 'Z'; ++letter) {
            if (bus_.HasDrive(letter)) nodes.push_back(NodeName(letter));
        }
        return nodes;
    }
    static std::string NodeName(char letter) { return std::string("sim:") + letter; }
    static bool IsSimNodeName(const std::string& name) {
        return name.size() == 5 && name.compare(0, 4, "sim:") == 0 && name[4] >= 'C' &&
               name[4] <= 'Z';
    }

    int Open(const char* path) override {
        std::string name = path;
        if (!IsSimNodeName(name)) return -ENOENT;
        if (!bus_.HasDrive(name[4])) return -ENXIO;
        return name[4];  // the letter itself serves as the descriptor
    }

    int SgIo(int fd, sg_io_hdr_t* header) override {
        char letter = static_cast<char>(fd);
        if (header->interface_id != 'S' || header->cmd_len < 6 || header->cmd_len > 16) {
            return -EINVAL;
        }
        std::uint8_t cdb[12] = {};
        std::memcpy(cdb, header->cmdp, header->cmd_len < 12 ? header->cmd_len : 12);
        sim::Direction direction = sim::Direction::None;
        if (header->dxfer_direction == SG_DXFER_FROM_DEV) direction = sim::Direction::In;
        if (header->dxfer_direction == SG_DXFER_TO_DEV) direction = sim::Direction::Out;
        std::uint32_t length = direction == sim::Direction::None ? 0 : header->dxfer_len;
        auto* data = static_cast<std::uint8_t*>(header->dxferp);

        sim::Outcome outcome = bus_.ExecuteDrive(letter, cdb, direction, data, length);
        header->resid = 0;
        header->duration = 0;
        switch (outcome) {
            case sim::Outcome::Good:
                return 0;
            case sim::Outcome::NoDevice:
                return -ENODEV;
            case sim::Outcome::Hung:
                header->host_status = kSgHostTimeOut;
                header->duration = header->timeout;
                header->info = SG_INFO_CHECK;
                return 0;
            case sim::Outcome::CheckCondition:
                break;
        }
        header->status = kScsiStatusCheckCondition;
        header->masked_status = kScsiStatusCheckCondition >> 1;
        header->info = SG_INFO_CHECK;
        std::uint8_t requestSense[12] = {0x03, 0, 0, 0, 18};
        std::uint8_t sense[18] = {};
        if (bus_.ExecuteDrive(letter, requestSense, sim::Direction::In, sense, sizeof sense) ==
            sim::Outcome::Good) {
            std::uint8_t room = header->mx_sb_len < sizeof sense ? header->mx_sb_len : 18;
            std::memcpy(header->sbp, sense, room);
            header->sb_len_wr = room;
            header->driver_status = kSgDriverSense;
        }
        return 0;
    }

    void Close(int) override {}

  private:
    sim::SimBus& bus_;
};
