#include "format/block_probes.h"
#include "format/device_access.h"
#include "format/physical_format.h"
#include "reader/reader_unit.h"

int ReaderDeviceAccess::OpenTransport() { return reader_.OpenTransport(); }

void ReaderDeviceAccess::DiscoverUnits(std::uint8_t* count, MediaType keys[3]) {
    reader_.DiscoverUnits(count, keys);
}

int ReaderDeviceAccess::TestUnitReady(MediaType unit) {
    return ReaderUnit(reader_, unit).TestUnitReady().Good() ? 1 : 0;
}

SenseStatus ReaderDeviceAccess::GetSenseStatus(MediaType unit) {
    return ReaderUnit(reader_, unit).GetSenseStatus();
}

int ReaderDeviceAccess::ReadCapacity(MediaType unit, std::uint8_t reply[8]) {
    return ReaderUnit(reader_, unit).ReadCapacity(reply).Good() ? 1 : 0;
}

int ReaderDeviceAccess::StopUnit(MediaType unit) {
    return ReaderUnit(reader_, unit).StopUnit().Good() ? 1 : 0;
}

bool ReaderDeviceAccess::IsWriteProtected(MediaType unit) {
    ReaderUnit probed(reader_, unit);
    return ::IsWriteProtected(probed);
}

FormatResult ReaderDeviceAccess::RunPhysicalFormat(RunInterface& run, MediaType unit,
                                                   FormatMode mode) {
    return ::RunPhysicalFormat(run, reader_, unit, mode);
}

void ReaderDeviceAccess::CloseTransport() { reader_.CloseTransport(); }
