#pragma once
#include <string>
#include <vector>

#include "reader/linux/sgio.h"
#include "reader/scsi_port.h"

// The SG_IO back-end as a port: the places are SCSI device nodes (/dev/sgN, /dev/sdX), as many
// as there are. Each command is one request of the node's route (SgRoute); the sense data the
// kernel collected comes back with the status. What the system knows of a node's device (whether
// it is still there, its largest transfer) is read from sysfs under `sysDir`.
class SgioPort final : public ScsiPort {
  public:
    // io must outlive the port.
    SgioPort(SgDeviceIo& io, std::vector<std::string> nodes, std::string sysDir = "/sys");
    ~SgioPort() override;
    SgioPort(const SgioPort&) = delete;
    SgioPort& operator=(const SgioPort&) = delete;

    const char* Name() const override { return "SG_IO"; }
    PortShape Shape() const override { return PortShape::Drives; }
    std::uint32_t PlaceCount() const override;
    std::string PlaceName(std::uint32_t place) const override;
    bool Open(std::uint32_t place) override;
    void Close(std::uint32_t place) override;
    CommandOutcome Execute(const PortAddress& address, const std::uint8_t* cdb,
                           std::uint8_t cdbLength, DataPhase phase, void* buffer,
                           std::uint32_t length, std::uint16_t timeoutSeconds) override;
    bool SenseComesWithStatus() const override { return true; }
    bool ResetsAfterTimeOut() const override { return true; }
    std::uint32_t MaxTransfer(std::uint32_t place) const override;
    PlacePresence AwaitPresence(std::uint32_t place, std::uint32_t milliseconds) override;

    // Opens the place so that no other program may open it while it is held (a generic node's
    // O_EXCL: another brevant, or any other user of the node, is refused with EBUSY), and keeps
    // it open through Close until Release. 0, or the errno of the open that failed.
    int Hold(std::uint32_t place);
    void Release(std::uint32_t place);

    // How many opens failed because the caller lacks the rights (EACCES or EPERM).
    int PermissionDenials() const { return permissionDenials_; }
    // The nodes that could not be opened because another program holds them (EBUSY).
    const std::vector<std::string>& BusyNodes() const { return busyNodes_; }

  private:
    struct Node {
        std::string path;
        SgRoute route = SgRoute::Ioctl;
        int fd = -1;  // -1 while not open
        bool held = false;
        std::uint32_t maxTransfer = kMaxTransfer;
        std::string device;  // the SCSI device's sysfs folder when the node was opened; "" unknown
    };
    int OpenNode(Node& node, bool exclusive);

    SgDeviceIo& io_;
    std::vector<Node> nodes_;
    std::string sysDir_;
    int permissionDenials_ = 0;
    std::vector<std::string> busyNodes_;
};
