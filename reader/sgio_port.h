#pragma once
#include <string>
#include <vector>

#include "reader/scsi_port.h"
#include "reader/sgio.h"

// The SG_IO back-end as a port: the places are SCSI device nodes (/dev/sgN, /dev/sdX), as many
// as there are. Each command is one SG_IO request; the sense data the kernel collected comes
// back with the status.
class SgioPort final : public ScsiPort {
  public:
    // io must outlive the port.
    SgioPort(SgDeviceIo& io, std::vector<std::string> nodes);
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

    // How many opens failed because the caller lacks the rights (EACCES or EPERM).
    int PermissionDenials() const { return permissionDenials_; }

  private:
    SgDeviceIo& io_;
    std::vector<std::string> nodes_;
    std::vector<int> fds_;  // -1 while a node is not open
    int permissionDenials_ = 0;
};
