#include "sim/sim_bus.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "sim/sim_description.h"
#include "sim/sim_device.h"
#include "sim/sim_link.h"

namespace sim {

namespace {

char UpperLetter(char letter) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
}

}  // namespace

struct SimBus::Impl {
    // The way commands take to one device: a stack of decorators around it.
    struct Route {
        SimDevice* device = nullptr;
        SimMutex mutex;
        CommandStack stack;
    };

    std::vector<std::unique_ptr<SimDevice>> devices;
    std::vector<std::unique_ptr<Route>> routes;  // one per device, in the same order
    AspiLibraryConfig aspi;
    bool adapterCountSet = false;
    std::uint8_t adapterCount = 0;
    bool directPassThrough = true;
    SimLink machine;  // the faults of the whole machine; its commands are the readers'
    TraceRecorder trace;

    // Readers: serial, trace, the machine's plug, latency and hang, then the device. Foreign
    // drives suffer no faults: serial, trace, device.
    Route& AddRoute(SimDevice& device) {
        routes.emplace_back(new Route);
        Route& route = *routes.back();
        route.device = &device;
        CommandStack& s = route.stack;
        CommandTarget* top = &s.Add<DeviceTarget>();
        if (device.IsReader()) {
            top = &s.Add<HangDecorator>(*top, machine);
            top = &s.Add<LatencyDecorator>(*top, machine);
            top = &s.Add<UnplugDecorator>(*top, machine);
        }
        top = &s.Add<TraceDecorator>(*top, trace);
        s.Add<SerialDecorator>(*top, route.mutex);
        return route;
    }

    // Every command that reaches a device comes through here.
    Outcome Run(Route& route, std::uint8_t lun, const std::uint8_t* cdb, Direction direction,
                std::uint8_t* buffer, std::uint32_t length) {
        const UnitCommand command{*route.device, lun, cdb, direction, buffer, length};
        return route.stack.Front().Execute(command);
    }

    bool Present(const SimDevice& device) const { return !device.IsReader() || machine.Plugged(); }

    Route* RouteAt(std::uint8_t adapter, std::uint8_t target) {
        for (auto& route : routes) {
            if (route->device->Adapter() == adapter && route->device->Target() == target) {
                return route.get();
            }
        }
        return nullptr;
    }

    // The device and LUN behind a drive letter.
    Route* RouteOfDrive(char letter, std::uint8_t* lun) {
        letter = UpperLetter(letter);
        if (letter < 'C' || letter > 'Z') return nullptr;
        for (auto& route : routes) {
            SimDevice& device = *route->device;
            for (std::size_t i = 0; i < device.UnitCount(); ++i) {
                if (device.Unit(i)->DriveLetter() == letter) {
                    *lun = static_cast<std::uint8_t>(i);
                    return route.get();
                }
            }
        }
        return nullptr;
    }

    SimDevice* DeviceAt(std::uint8_t adapter, std::uint8_t target) {
        Route* route = RouteAt(adapter, target);
        return route != nullptr ? route->device : nullptr;
    }

    SimDevice* DeviceOfDrive(char letter, std::uint8_t* lun) {
        Route* route = RouteOfDrive(letter, lun);
        return route != nullptr ? route->device : nullptr;
    }

    void PowerCycle(Route& route) {
        SimLockGuard hold(route.mutex);
        SimDevice& device = *route.device;
        for (std::size_t i = 0; i < device.UnitCount(); ++i) {
            SimFlashDisk* disk = device.Unit(i)->FlashDisk();
            if (disk != nullptr) disk->PowerCycle();
        }
    }
};

SimBus::SimBus() : impl_(new Impl) {}
SimBus::~SimBus() = default;

std::unique_ptr<SimBus> SimBus::Parse(const std::string& description, std::string* error) {
    std::unique_ptr<SimBus> bus(new SimBus);
    if (!ApplyDescription(description, *bus, error)) return nullptr;
    return bus;
}

std::unique_ptr<SimBus> SimBus::Load(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot open " + path;
        return nullptr;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::string reason;
    std::unique_ptr<SimBus> bus = Parse(text.str(), &reason);
    if (!bus && error) *error = path + ": " + reason;
    return bus;
}

const AspiLibraryConfig& SimBus::AspiLibrary() const { return impl_->aspi; }

std::uint8_t SimBus::HostAdapterCount() const {
    if (impl_->adapterCountSet) return impl_->adapterCount;
    unsigned highest = 0;
    for (const auto& device : impl_->devices) {
        if (device->Adapter() != kNoAspiAddress) {
            highest = std::max<unsigned>(highest, device->Adapter() + 1u);
        }
    }
    return static_cast<std::uint8_t>(std::max(1u, highest));
}

std::uint32_t SimBus::AspiSupportInfo() const {
    if (impl_->aspi.supportInfoOverridden) return impl_->aspi.supportInfo;
    return (1u << 8) | HostAdapterCount();
}

Outcome SimBus::ExecuteAspi(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun,
                            const std::uint8_t cdb[12], Direction direction, std::uint8_t* buffer,
                            std::uint32_t length) {
    if (adapter == kNoAspiAddress) return Outcome::NoDevice;
    Impl::Route* route = impl_->RouteAt(adapter, target);
    if (route == nullptr || lun >= route->device->UnitCount()) return Outcome::NoDevice;
    return impl_->Run(*route, lun, cdb, direction, buffer, length);
}

bool SimBus::HasDrive(char letter) const {
    std::uint8_t lun = 0;
    SimDevice* device = impl_->DeviceOfDrive(letter, &lun);
    return device != nullptr && impl_->Present(*device);
}

bool SimBus::DirectPassThroughSupported() const { return impl_->directPassThrough; }

Outcome SimBus::ExecuteDrive(char letter, const std::uint8_t cdb[12], Direction direction,
                             std::uint8_t* buffer, std::uint32_t length) {
    std::uint8_t lun = 0;
    Impl::Route* route = impl_->RouteOfDrive(letter, &lun);
    if (route == nullptr) return Outcome::NoDevice;
    return impl_->Run(*route, lun, cdb, direction, buffer, length);
}

std::vector<std::uint8_t> SimBus::PendingSense(std::uint8_t adapter, std::uint8_t target,
                                               std::uint8_t lun) const {
    SimDevice* device = impl_->DeviceAt(adapter, target);
    if (device == nullptr || device->Unit(lun) == nullptr) {
        return std::vector<std::uint8_t>(kSenseBytes, 0);
    }
    const SenseBytes sense = device->Unit(lun)->PendingSense();
    return std::vector<std::uint8_t>(sense.begin(), sense.end());
}

SimFlashDisk* SimBus::FlashDisk(std::size_t index) {
    for (auto& device : impl_->devices) {
        for (std::size_t i = 0; i < device->UnitCount(); ++i) {
            SimFlashDisk* disk = device->Unit(i)->FlashDisk();
            if (disk == nullptr) continue;
            if (index == 0) return disk;
            --index;
        }
    }
    return nullptr;
}

std::size_t SimBus::FlashDiskCount() const {
    std::size_t count = 0;
    for (const auto& device : impl_->devices) {
        for (std::size_t i = 0; i < device->UnitCount(); ++i) {
            if (device->Unit(i)->FlashDisk() != nullptr) ++count;
        }
    }
    return count;
}

const std::vector<TraceEntry>& SimBus::Trace() const { return impl_->trace.Entries(); }
void SimBus::ClearTrace() { impl_->trace.Clear(); }
void SimBus::SetTraceEnabled(bool enabled) { impl_->trace.Keep(enabled); }

std::string SimBus::FormatTraceEntry(const TraceEntry& entry) { return FormatTraceLine(entry); }

bool SimBus::WriteTrace(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const TraceEntry& entry : impl_->trace.Entries()) out << FormatTraceEntry(entry) << '\n';
    return static_cast<bool>(out);
}

bool SimBus::StreamTrace(const std::string& path, std::string* error) {
    return impl_->trace.StreamTo(path, error);
}

bool SimBus::EndTraceStream() { return impl_->trace.EndStream(); }

void SimBus::Unplug() { impl_->machine.SetPlugged(false); }

void SimBus::Replug() {
    if (impl_->machine.Plugged()) return;
    impl_->machine.SetPlugged(true);
    for (auto& route : impl_->routes) {
        if (route->device->IsReader()) impl_->PowerCycle(*route);
    }
}

bool SimBus::Plugged() const { return impl_->machine.Plugged(); }

void SimBus::SetLatencyMicroseconds(std::uint32_t microseconds) {
    impl_->machine.SetLatencyMicroseconds(microseconds);
}

std::uint32_t SimBus::LatencyMicroseconds() const { return impl_->machine.LatencyMicroseconds(); }

void SimBus::UnplugAfterCommands(std::uint32_t count) { impl_->machine.UnplugAfterCommands(count); }
void SimBus::HangOnCommand(std::uint32_t n) { impl_->machine.HangOnCommand(n); }
std::uint64_t SimBus::ReaderCommandCount() const { return impl_->machine.Commands(); }

std::size_t SimBus::DeviceCount() const { return impl_->devices.size(); }

SimDevice* SimBus::Device(std::size_t index) {
    return index < impl_->devices.size() ? impl_->devices[index].get() : nullptr;
}

SimUnit* SimBus::UnitAt(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) {
    SimDevice* device = impl_->DeviceAt(adapter, target);
    return device != nullptr ? device->Unit(lun) : nullptr;
}

SimUnit* SimBus::UnitOfDrive(char letter) {
    std::uint8_t lun = 0;
    SimDevice* device = impl_->DeviceOfDrive(letter, &lun);
    return device != nullptr ? device->Unit(lun) : nullptr;
}

SimDevice& SimBus::AddReader(std::uint8_t adapter, std::uint8_t target) {
    std::size_t readers = 0;
    for (const auto& device : impl_->devices) readers += device->IsReader() ? 1 : 0;
    impl_->devices.emplace_back(new SimDevice(SimDevice::Kind::Reader, adapter, target,
                                              "reader " + std::to_string(readers)));
    impl_->AddRoute(*impl_->devices.back());
    return *impl_->devices.back();
}

SimDevice& SimBus::AddForeignDrive(char letter, std::uint8_t adapter, std::uint8_t target,
                                   const std::string& name) {
    letter = UpperLetter(letter);
    std::string deviceName = "foreign ";
    if (letter != 0) {
        deviceName += letter;
    } else {
        deviceName += std::to_string(adapter) + ":" + std::to_string(target);
    }
    impl_->devices.emplace_back(
        new SimDevice(SimDevice::Kind::Foreign, adapter, target, deviceName));
    impl_->AddRoute(*impl_->devices.back());
    SimUnit& unit = impl_->devices.back()->AddUnit("", name);
    unit.SetDriveLetter(letter);
    return *impl_->devices.back();
}

void SimBus::SetHostAdapterCount(std::uint8_t count) {
    impl_->adapterCountSet = true;
    impl_->adapterCount = count;
}

AspiLibraryConfig& SimBus::MutableAspiLibrary() { return impl_->aspi; }

void SimBus::SetDirectPassThroughSupported(bool supported) { impl_->directPassThrough = supported; }

}  // namespace sim
