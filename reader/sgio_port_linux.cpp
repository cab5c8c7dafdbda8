#include <cerrno>

#include "reader/sgio_port.h"

SgioPort::SgioPort(SgDeviceIo& io, std::vector<std::string> nodes)
    : io_(io), nodes_(std::move(nodes)), fds_(nodes_.size(), -1) {}

SgioPort::~SgioPort() {
    for (std::uint32_t place = 0; place < fds_.size(); ++place) Close(place);
}

std::uint32_t SgioPort::PlaceCount() const { return static_cast<std::uint32_t>(nodes_.size()); }

std::string SgioPort::PlaceName(std::uint32_t place) const {
    return place < nodes_.size() ? nodes_[place] : std::string();
}

bool SgioPort::Open(std::uint32_t place) {
    if (place >= nodes_.size()) return false;
    if (fds_[place] >= 0) return true;
    const int fd = io_.Open(nodes_[place].c_str());
    if (fd < 0) {
        if (fd == -EACCES || fd == -EPERM) ++permissionDenials_;
        return false;
    }
    fds_[place] = fd;
    return true;
}

void SgioPort::Close(std::uint32_t place) {
    if (place >= fds_.size() || fds_[place] < 0) return;
    io_.Close(fds_[place]);
    fds_[place] = -1;
}

CommandOutcome SgioPort::Execute(const PortAddress& address, const std::uint8_t* cdb,
                                 std::uint8_t cdbLength, DataPhase phase, void* buffer,
                                 std::uint32_t length, std::uint16_t timeoutSeconds) {
    if (address.place >= fds_.size() || fds_[address.place] < 0 || address.lun != 0) {
        return CommandOutcome{};
    }
    return SgioExecute(io_, fds_[address.place], cdb, cdbLength, buffer, length, phase,
                       timeoutSeconds);
}
