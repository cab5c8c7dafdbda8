#pragma once
#include <cstdint>
#include <initializer_list>
#include <memory>

#include "reader/media_type.h"
#include "reader/reader.h"
#include "reader/reader_unit.h"
#include "reader/units.h"
#include "reader/win32/windows_back_ends.h"
#include "sim/sim_bus.h"
#include "sim/sim_device.h"
#include "sim/sim_flash_disk.h"
#include "sim/sim_os_layer.h"

// A simulated reader with one flash disk (unit 8), reached through a reader of its own: the ASPI
// back-end over the in-process OS layer, then unit discovery, as the program does it.
class SimFlashDiskMachine {
  public:
    explicit SimFlashDiskMachine(std::initializer_list<std::uint8_t> bankCodes) {
        bus.SetTraceEnabled(true);  // the tests read what was sent
        sim::SimDevice& device = bus.AddReader(0, 0);
        disk = device.AddUnit("DS").FlashDisk();
        for (std::uint8_t code : bankCodes) disk->AddBank(code);
        opened = reader.OpenTransport() == 1;
        MediaType keys[kMaxUnits] = {};
        reader.DiscoverUnits(&unitCount, keys);
        unit = unitCount > 0 ? keys[0] : kMediaNone;
    }
    SimFlashDiskMachine(const SimFlashDiskMachine&) = delete;
    SimFlashDiskMachine& operator=(const SimFlashDiskMachine&) = delete;

    bool Ready() const { return opened && unit == kMediaUsbDisk; }

    sim::SimBus bus;
    sim::SimFlashDisk* disk = nullptr;
    sim::SimOsLayer os{bus};
    Reader reader{std::make_unique<WindowsBackEnds>(os)};
    ReaderUnit stick{reader, kMediaUsbDisk};  // the flash disk as the probes speak to it
    bool opened = false;
    std::uint8_t unitCount = 0;
    MediaType unit = kMediaNone;
};
