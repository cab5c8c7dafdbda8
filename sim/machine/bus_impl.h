#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/machine/plug_schedule.h"
#include "sim/sim_bus.h"
#include "sim/sim_device.h"
#include "sim/sim_link.h"
#include "sim/sim_trace.h"

// The insides of a SimBus: its devices, the way commands take to each of them, and its plugs.
// Commands and addressing are in sim_bus.cpp, plugs and link faults in machine/bus_plugs.cpp.

namespace sim {

struct SimBus::Impl {
    // The way commands take to one device: a stack of decorators around it.
    struct Route {
        SimDevice* device = nullptr;
        std::unique_ptr<SimLink> link;  // readers: the reader's own
        SimMutex mutex;
        CommandStack stack;
    };

    explicit Impl(SimBus& bus) : schedule(bus) {}

    std::vector<std::unique_ptr<SimDevice>> devices;
    std::vector<std::unique_ptr<Route>> routes;  // one per device, in the same order
    std::vector<Route*> readers;                 // the readers' routes, in order
    AspiLibraryConfig aspi;
    bool adapterCountSet = false;
    std::uint8_t adapterCount = 0;
    bool directPassThrough = true;
    SimLink machine;  // the faults of the whole machine; its commands are the readers'
    TraceRecorder trace;
    SimMutex plugMutex;     // one plug change at a time
    PlugSchedule schedule;  // runs before a command or a presence check

    // --- Commands (sim_bus.cpp) ----------------------------------------------------------------
    Route& AddRoute(SimDevice& device);
    // Every command that reaches a device comes through here.
    Outcome Run(Route& route, std::uint8_t lun, const std::uint8_t* cdb, Direction direction,
                std::uint8_t* buffer, std::uint32_t length);
    Route* RouteOf(const SimDevice& device);
    Route* RouteAt(std::uint8_t adapter, std::uint8_t target);
    // The device and LUN behind a drive letter.
    Route* RouteOfDrive(char letter, std::uint8_t* lun);
    SimDevice* DeviceAt(std::uint8_t adapter, std::uint8_t target) {
        Route* route = RouteAt(adapter, target);
        return route != nullptr ? route->device : nullptr;
    }
    SimDevice* DeviceOfDrive(char letter, std::uint8_t* lun) {
        Route* route = RouteOfDrive(letter, lun);
        return route != nullptr ? route->device : nullptr;
    }

    // --- Plugs (machine/bus_plugs.cpp) ---------------------------------------------------------
    bool Present(const Route& route) const {
        return !route.link || (machine.Plugged() && route.link->Plugged());
    }
    // A reader that comes back: its disks come up, its lock-up is over.
    void PowerCycle(Route& route);
    // The host reset a reader's controller (a USB reset): SimFlashDisk::Reset of each disk.
    void Reset(Route& route);
    void Unplug();
    void Replug();
    void UnplugReader(std::size_t index);
    void ReplugReader(std::size_t index);
};

}  // namespace sim
