#pragma once
#include <cstdint>

#include "reader/scsi_port.h"
#include "reader/win32/os_layer.h"
#include "reader/win32/transport_state.h"

// The Windows SCSI pass-through back-end: one command on a drive handle, in the buffered
// SCSI_PASS_THROUGH request (through the work buffer) or the direct one. Returns 0 on success,
// 2 on failure. A one-byte read asks the driver for two bytes.
int PassThroughExecute(ScsiTransport& transport, OsLayer& os, OsHandle handle,
                       const std::uint8_t* cdb, void* buffer, std::uint32_t length,
                       std::uint8_t dataIn, std::uint16_t timeoutSeconds);

// Tries the direct pass-through request on `handle` and keeps it if it works. Returns 0 or 2.
int ProbeDirectPassThrough(ScsiTransport& transport, OsLayer& os, OsHandle handle);

// The back-end as a port: the places are the drives C: to Z:, opened by their device paths.
class PassThroughPort final : public ScsiPort {
  public:
    static constexpr std::uint32_t kDrives = 24;  // C: to Z:

    PassThroughPort(ScsiTransport& transport, OsLayer& os) : transport_(transport), os_(os) {}
    ~PassThroughPort() override;
    PassThroughPort(const PassThroughPort&) = delete;
    PassThroughPort& operator=(const PassThroughPort&) = delete;

    const char* Name() const override { return "SCSI pass-through"; }
    PortShape Shape() const override { return PortShape::Drives; }
    std::uint32_t PlaceCount() const override { return kDrives; }
    // "E:" for place 2.
    std::string PlaceName(std::uint32_t place) const override;
    bool Open(std::uint32_t place) override;
    void Close(std::uint32_t place) override;
    CommandOutcome Execute(const PortAddress& address, const std::uint8_t* cdb,
                           std::uint8_t cdbLength, DataPhase phase, void* buffer,
                           std::uint32_t length, std::uint16_t timeoutSeconds) override;
    // The first reader drive decides whether the direct request is used (once per start).
    void ReaderFound(std::uint32_t place) override;

    // The open handle of a place; nullptr when it is not open.
    OsHandle HandleOf(std::uint32_t place) const;

  private:
    ScsiTransport& transport_;
    OsLayer& os_;
    OsHandle handles_[kDrives] = {};
};
