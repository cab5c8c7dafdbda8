#pragma once
#include <cstdint>

#include "reader/scsi_port.h"
#include "reader/win32/os_layer.h"
#include "reader/win32/transport_state.h"

// The ASPI for Win32 back-end: one command to the reader at the stored host adapter and target,
// LUN `lun`, through the SRB_ExecSCSICmd request block polled to completion. Returns the ASPI
// status: 1 (SS_COMP) is success. A time-out gives 2.
std::uint32_t AspiExecute(ScsiTransport& transport, OsLayer& os, std::uint8_t lun,
                          const std::uint8_t* cdb, void* buffer, std::uint32_t length,
                          std::uint8_t flags, std::uint16_t timeoutSeconds);

// The back-end as a port: a place is one target of one host adapter (place = adapter * 8 +
// target), its units are LUNs. Executing on a place makes it the reader's address in the
// back-ends' state, as discovery's scan does.
class AspiPort final : public ScsiPort {
  public:
    static constexpr std::uint32_t kTargetsPerAdapter = 8;

    AspiPort(ScsiTransport& transport, OsLayer& os) : transport_(transport), os_(os) {}

    const char* Name() const override { return "ASPI"; }
    PortShape Shape() const override { return PortShape::ReaderLuns; }
    std::uint32_t PlaceCount() const override;
    std::string PlaceName(std::uint32_t place) const override;
    bool Open(std::uint32_t) override { return true; }
    void Close(std::uint32_t) override {}
    CommandOutcome Execute(const PortAddress& address, const std::uint8_t* cdb,
                           std::uint8_t cdbLength, DataPhase phase, void* buffer,
                           std::uint32_t length, std::uint16_t timeoutSeconds) override;

  private:
    ScsiTransport& transport_;
    OsLayer& os_;
};
