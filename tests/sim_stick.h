#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "reader/os_layer.h"
#include "reader/transport.h"
#include "reader/units.h"
#include "sim/sim_bus.h"
#include "sim/sim_os_layer.h"

// A simulated machine with one stick, reached through the real transport as the command line
// reaches it: from a description, or from the name of one of sim/examples/.
class SimStickMachine {
  public:
    // False (with a test failure) when the machine cannot be built or has no flash disk.
    bool Plug(const std::string& descriptionOrExample) {
        std::string error;
        bus = descriptionOrExample.find('\n') == std::string::npos
                  ? sim::SimBus::Load(
                        std::string(BREVANT_SOURCE_DIR) + "/sim/examples/" + descriptionOrExample,
                        &error)
                  : sim::SimBus::Parse(descriptionOrExample, &error);
        EXPECT_NE(bus, nullptr) << error;
        if (bus == nullptr) return false;
        bus->SetTraceEnabled(true);
        layer = std::make_unique<sim::SimOsLayer>(*bus);
        InstallOsLayer(layer.get());
        opened = OpenTransport() == 1;
        std::uint8_t count = 0;
        MediaType keys[kMaxUnits] = {};
        DiscoverUnits(&count, keys);
        EXPECT_TRUE(opened);
        EXPECT_EQ(keys[0], kMediaUsbDisk);
        return opened && keys[0] == kMediaUsbDisk;
    }
    ~SimStickMachine() {
        if (opened) CloseTransport();
        if (layer) InstallOsLayer(nullptr);
    }

    std::unique_ptr<sim::SimBus> bus;
    std::unique_ptr<sim::SimOsLayer> layer;
    bool opened = false;
};
