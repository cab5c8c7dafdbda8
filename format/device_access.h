#pragma once
#include <cstdint>

#include "core/format_types.h"
#include "format/run_interface.h"
#include "reader/media_type.h"
#include "reader/reader.h"
#include "reader/sense.h"

// The reader operations the front ends call (the dialog, the command line, the disk probe and the
// run sequence beside the engine), gathered so that they can be run against a scripted device
// in tests. ReaderDeviceAccess forwards to a reader and the format engine; every operation means
// what the operation of the same name does there, and answers 1 for a command that succeeded.
class DeviceAccess {
  public:
    virtual ~DeviceAccess() = default;

    // 1 when a back-end is ready, 0 when the reader cannot be reached at all.
    virtual int OpenTransport() = 0;
    virtual void DiscoverUnits(std::uint8_t* count, MediaType keys[3]) = 0;
    virtual int TestUnitReady(MediaType unit) = 0;
    virtual SenseStatus GetSenseStatus(MediaType unit) = 0;
    virtual int ReadCapacity(MediaType unit, std::uint8_t reply[8]) = 0;
    virtual int StopUnit(MediaType unit) = 0;
    virtual bool IsWriteProtected(MediaType unit) = 0;
    virtual FormatResult RunPhysicalFormat(RunInterface& run, MediaType unit, FormatMode mode) = 0;
    virtual void CloseTransport() = 0;
};

// A real reader, which must outlive this.
class ReaderDeviceAccess final : public DeviceAccess {
  public:
    explicit ReaderDeviceAccess(Reader& reader) : reader_(reader) {}

    int OpenTransport() override;
    void DiscoverUnits(std::uint8_t* count, MediaType keys[3]) override;
    int TestUnitReady(MediaType unit) override;
    SenseStatus GetSenseStatus(MediaType unit) override;
    int ReadCapacity(MediaType unit, std::uint8_t reply[8]) override;
    int StopUnit(MediaType unit) override;
    bool IsWriteProtected(MediaType unit) override;
    FormatResult RunPhysicalFormat(RunInterface& run, MediaType unit, FormatMode mode) override;
    void CloseTransport() override;

  private:
    Reader& reader_;
};
