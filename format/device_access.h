#pragma once
#include <cstdint>

#include "core/format_types.h"
#include "format/run_interface.h"
#include "reader/media_type.h"
#include "reader/sense.h"

// The reader operations the front ends call (the dialog, the command line, the disk probe and the
// run sequence beside the engine), gathered so that they can be run against a scripted device
// in tests. ReaderDeviceAccess() forwards to the reader and the format engine; every operation
// means what the function of the same name does there.
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

// The real reader (the transport must have been opened).
DeviceAccess& ReaderDeviceAccess();
