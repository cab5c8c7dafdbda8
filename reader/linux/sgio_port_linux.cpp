#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "reader/linux/sgio_nodes.h"
#include "reader/linux/sgio_port.h"

namespace fs = std::filesystem;

namespace {

// How often the system is looked at while waiting for it to let a device go.
constexpr std::uint32_t kPresenceLookMilliseconds = 10;

bool IsGenericNode(const std::string& path) {
    return IsGenericNodeName(fs::path(path).filename().string());
}

// Whether the system still has the SCSI device of that sysfs folder, running: a device being
// taken away leaves "cancel" or "deleted" there, one taken offline "offline".
bool StillRunning(const std::string& device) {
    std::error_code error;
    if (!fs::exists(device, error)) return false;
    std::ifstream in(fs::path(device) / "state");
    std::string state;
    if (!std::getline(in, state)) return true;  // a device without a state says nothing else
    return state == "running" || state == "blocked" || state == "created-blocked" ||
           state == "quiesce";
}

}  // namespace

SgioPort::SgioPort(SgDeviceIo& io, std::vector<std::string> nodes, std::string sysDir)
    : io_(io), sysDir_(std::move(sysDir)) {
    for (std::string& path : nodes) {
        Node node;
        node.route = IsGenericNode(path) ? SgRoute::WriteRead : SgRoute::Ioctl;
        node.path = std::move(path);
        nodes_.push_back(node);
    }
}

SgioPort::~SgioPort() {
    for (std::uint32_t place = 0; place < nodes_.size(); ++place) Release(place);
}

std::uint32_t SgioPort::PlaceCount() const { return static_cast<std::uint32_t>(nodes_.size()); }

std::string SgioPort::PlaceName(std::uint32_t place) const {
    return place < nodes_.size() ? nodes_[place].path : std::string();
}

int SgioPort::OpenNode(Node& node, bool exclusive) {
    const int fd = io_.Open(node.path.c_str(), exclusive);
    if (fd < 0) {
        if (fd == -EACCES || fd == -EPERM) ++permissionDenials_;
        if (fd == -EBUSY &&
            std::find(busyNodes_.begin(), busyNodes_.end(), node.path) == busyNodes_.end()) {
            busyNodes_.push_back(node.path);
        }
        return -fd;
    }
    node.fd = fd;
    const std::uint32_t limit = io_.MaxTransfer(fd, node.route == SgRoute::WriteRead);
    node.maxTransfer = limit != 0 ? std::min(limit, kMaxTransfer) : kMaxTransfer;
    node.device = ScsiDeviceOfNode(node.path, sysDir_);
    return 0;
}

bool SgioPort::Open(std::uint32_t place) {
    if (place >= nodes_.size()) return false;
    Node& node = nodes_[place];
    return node.fd >= 0 || OpenNode(node, false) == 0;
}

void SgioPort::Close(std::uint32_t place) {
    if (place >= nodes_.size()) return;
    Node& node = nodes_[place];
    if (node.fd < 0 || node.held) return;
    io_.Close(node.fd);
    node.fd = -1;
}

int SgioPort::Hold(std::uint32_t place) {
    if (place >= nodes_.size()) return ENOENT;
    Node& node = nodes_[place];
    if (node.held) return 0;
    // An open of this process's own counts as another opener to the driver.
    Close(place);
    const int error = OpenNode(node, true);
    node.held = error == 0;
    return error;
}

void SgioPort::Release(std::uint32_t place) {
    if (place >= nodes_.size()) return;
    nodes_[place].held = false;
    Close(place);
}

std::uint32_t SgioPort::MaxTransfer(std::uint32_t place) const {
    return place < nodes_.size() ? nodes_[place].maxTransfer : kMaxTransfer;
}

PlacePresence SgioPort::AwaitPresence(std::uint32_t place, std::uint32_t milliseconds) {
    if (place >= nodes_.size() || nodes_[place].device.empty()) return PlacePresence::Unknown;
    const std::string& device = nodes_[place].device;
    for (std::uint32_t waited = 0;; waited += kPresenceLookMilliseconds) {
        if (!StillRunning(device)) return PlacePresence::Gone;
        if (waited >= milliseconds) return PlacePresence::There;
        ::usleep(kPresenceLookMilliseconds * 1000u);
    }
}

CommandOutcome SgioPort::Execute(const PortAddress& address, const std::uint8_t* cdb,
                                 std::uint8_t cdbLength, DataPhase phase, void* buffer,
                                 std::uint32_t length, std::uint16_t timeoutSeconds) {
    if (address.place >= nodes_.size() || nodes_[address.place].fd < 0 || address.lun != 0) {
        return CommandOutcome{};
    }
    const Node& node = nodes_[address.place];
    return SgioExecute(io_, node.fd, node.route, cdb, cdbLength, buffer, length, phase,
                       timeoutSeconds);
}
