#pragma once
#include <cstdint>
#include <initializer_list>
#include <memory>

#include "reader/media_type.h"
#include "reader/os_layer.h"
#include "reader/transport.h"
#include "reader/units.h"
#include "sim/sim_bus.h"
#include "sim/sim_device.h"
#include "sim/sim_flash_disk.h"
#include "sim/sim_os_layer.h"

// A simulated reader with one flash disk (unit 8), reached through the real transport: the ASPI
// back-end over the in-process OS layer, then unit discovery, as the program does it.
class SimFlashDiskMachine {
  public:
    explicit SimFlashDiskMachine(std::initializer_list<std::uint8_t> bankCodes) {
        bus.SetTraceEnabled(true);  // the tests read what was sent
        sim::SimDevice& reader = bus.AddReader(0, 0);
        disk = reader.AddUnit("DS").FlashDisk();
        for (std::uint8_t code : bankCodes) disk->AddBank(code);
        os = std::make_unique<sim::SimOsLayer>(bus);
        InstallOsLayer(os.get());
        opened = OpenTransport() == 1;
        MediaType keys[kMaxUnits] = {};
        DiscoverUnits(&unitCount, keys);
        unit = unitCount > 0 ? keys[0] : kMediaNone;
    }
    ~SimFlashDiskMachine() {
        CloseTransport();
        InstallOsLayer(nullptr);
    }
    SimFlashDiskMachine(const SimFlashDiskMachine&) = delete;
    SimFlashDiskMachine& operator=(const SimFlashDiskMachine&) = delete;

    bool Ready() const { return opened && unit == kMediaUsbDisk; }

    sim::SimBus bus;
    sim::SimFlashDisk* disk = nullptr;
    std::unique_ptr<sim::SimOsLayer> os;
    bool opened = false;
    std::uint8_t unitCount = 0;
    MediaType unit = kMediaNone;
};
