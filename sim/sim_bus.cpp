#include "sim/sim_bus.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "core/plain_file.h"
#include "sim/sim_control.h"
#include "sim/sim_description.h"
#include "sim/sim_device.h"
#include "sim/sim_flash_disk.h"
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
        std::unique_ptr<SimLink> link;  // readers: the reader's own
        SimMutex mutex;
        CommandStack stack;
    };

    struct PlugEvent {
        std::size_t reader;
        bool plugIn;
        PlugMoment when;
        bool done;
    };

    std::vector<std::unique_ptr<SimDevice>> devices;
    std::vector<std::unique_ptr<Route>> routes;  // one per device, in the same order
    std::vector<Route*> readers;                 // the readers' routes, in order
    AspiLibraryConfig aspi;
    bool adapterCountSet = false;
    std::uint8_t adapterCount = 0;
    bool directPassThrough = true;
    SimLink machine;  // the faults of the whole machine; its commands are the readers'
    TraceRecorder trace;
    SimMutex plugMutex;  // one plug change at a time

    // What runs before a command or a presence check: the schedule and the control folder.
    std::atomic<bool> hooksArmed{false};
    SimMutex hooksMutex;
    std::function<std::uint64_t()> clock;
    std::uint64_t clockOrigin = 0;
    std::vector<PlugEvent> events;
    std::unique_ptr<ControlFolder> control;
    std::uint32_t pollMilliseconds = 0;
    std::uint64_t nextPoll = 0;

    Impl() {
        const auto start = std::chrono::steady_clock::now();
        clock = [start] {
            return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  std::chrono::steady_clock::now() - start)
                                                  .count());
        };
    }

    // Readers: serial, trace, the machine's plug, the reader's plug, latencies and hangs
    // (machine's, then reader's), failed commands (machine's, then reader's), then the device.
    // Foreign drives suffer no faults: serial, trace, device.
    Route& AddRoute(SimDevice& device) {
        routes.emplace_back(new Route);
        Route& route = *routes.back();
        route.device = &device;
        CommandStack& s = route.stack;
        CommandTarget* top = &s.Add<DeviceTarget>();
        if (device.IsReader()) {
            route.link.reset(new SimLink);
            SimLink& own = *route.link;
            top = &s.Add<FailDecorator>(*top, own);
            top = &s.Add<FailDecorator>(*top, machine);
            top = &s.Add<HangDecorator>(*top, own);
            top = &s.Add<HangDecorator>(*top, machine);
            top = &s.Add<LatencyDecorator>(*top, own);
            top = &s.Add<LatencyDecorator>(*top, machine);
            top = &s.Add<UnplugDecorator>(*top, own);
            top = &s.Add<UnplugDecorator>(*top, machine);
            readers.push_back(&route);
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

    bool Present(const Route& route) const {
        return !route.link || (machine.Plugged() && route.link->Plugged());
    }

    Route* RouteOf(const SimDevice& device) {
        for (auto& route : routes) {
            if (route->device == &device) return route.get();
        }
        return nullptr;
    }

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

    // A reader that comes back: its disks come up, its lock-up is over.
    void PowerCycle(Route& route) {
        SimLockGuard hold(route.mutex);
        SimDevice& device = *route.device;
        for (std::size_t i = 0; i < device.UnitCount(); ++i) {
            SimFlashDisk* disk = device.Unit(i)->FlashDisk();
            if (disk != nullptr) disk->PowerCycle();
        }
        route.link->ClearLockUp();
    }

    void Reset(Route& route) {
        SimLockGuard hold(route.mutex);
        SimDevice& device = *route.device;
        for (std::size_t i = 0; i < device.UnitCount(); ++i) {
            SimFlashDisk* disk = device.Unit(i)->FlashDisk();
            if (disk != nullptr) disk->Reset();
        }
    }

    void Unplug() {
        SimLockGuard hold(plugMutex);
        machine.SetPlugged(false);
    }

    void Replug() {
        SimLockGuard hold(plugMutex);
        std::vector<bool> before;
        for (Route* reader : readers) before.push_back(Present(*reader));
        if (!machine.Plugged()) machine.ClearLockUp();
        machine.SetPlugged(true);
        for (std::size_t i = 0; i < readers.size(); ++i) {
            readers[i]->link->SetPlugged(true);
            if (!before[i]) PowerCycle(*readers[i]);
        }
    }

    void UnplugReader(std::size_t index) {
        SimLockGuard hold(plugMutex);
        readers.at(index)->link->SetPlugged(false);
    }

    void ReplugReader(std::size_t index) {
        SimLockGuard hold(plugMutex);
        Route& reader = *readers.at(index);
        const bool before = Present(reader);
        reader.link->SetPlugged(true);
        if (!before && Present(reader)) PowerCycle(reader);
    }

    void Arm() {
        bool pending = control != nullptr;
        for (const PlugEvent& event : events) pending = pending || !event.done;
        hooksArmed.store(pending);
    }

    bool Due(const PlugEvent& event, std::uint64_t now) const {
        if (event.when.kind == PlugMoment::Kind::Commands) {
            return machine.Commands() >= event.when.value;
        }
        return now >= event.when.value;
    }

    // The schedule's plugs and pulls that are due, and a look into the control folder when its
    // time has come.
    void RunHooks() {
        if (!hooksArmed.load(std::memory_order_relaxed)) return;
        SimLockGuard hold(hooksMutex);
        const std::uint64_t now = clock() - clockOrigin;
        for (PlugEvent& event : events) {
            if (event.done || !Due(event, now)) continue;
            event.done = true;
            if (event.reader == kWholeMachine) {
                if (event.plugIn) {
                    Replug();
                } else {
                    Unplug();
                }
            } else if (event.plugIn) {
                ReplugReader(event.reader);
            } else {
                UnplugReader(event.reader);
            }
        }
        if (control && now >= nextPoll) {
            control->Poll();
            nextPoll = now + pollMilliseconds;
        }
        Arm();
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
    std::string text;
    std::string reason;
    if (ReadPlainFile(path, kMaxDescriptionBytes, &text, &reason) != PlainFileStatus::Read) {
        if (error) *error = "cannot read the description: " + reason;
        return nullptr;
    }
    std::unique_ptr<SimBus> bus = Parse(text, &reason);
    if (!bus && error) *error = reason;
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
    impl_->RunHooks();
    if (adapter == kNoAspiAddress) return Outcome::NoDevice;
    Impl::Route* route = impl_->RouteAt(adapter, target);
    if (route == nullptr || lun >= route->device->UnitCount()) return Outcome::NoDevice;
    return impl_->Run(*route, lun, cdb, direction, buffer, length);
}

bool SimBus::HasDrive(char letter) const {
    impl_->RunHooks();
    std::uint8_t lun = 0;
    const Impl::Route* route = impl_->RouteOfDrive(letter, &lun);
    return route != nullptr && impl_->Present(*route);
}

bool SimBus::DirectPassThroughSupported() const { return impl_->directPassThrough; }

Outcome SimBus::ExecuteDrive(char letter, const std::uint8_t cdb[12], Direction direction,
                             std::uint8_t* buffer, std::uint32_t length) {
    impl_->RunHooks();
    std::uint8_t lun = 0;
    Impl::Route* route = impl_->RouteOfDrive(letter, &lun);
    if (route == nullptr) return Outcome::NoDevice;
    return impl_->Run(*route, lun, cdb, direction, buffer, length);
}

Outcome SimBus::ExecuteUnit(SimDevice& device, std::uint8_t lun, const std::uint8_t cdb[12],
                            Direction direction, std::uint8_t* buffer, std::uint32_t length) {
    impl_->RunHooks();
    Impl::Route* route = impl_->RouteOf(device);
    if (route == nullptr || lun >= device.UnitCount()) return Outcome::NoDevice;
    return impl_->Run(*route, lun, cdb, direction, buffer, length);
}

bool SimBus::DevicePresent(const SimDevice& device) const {
    impl_->RunHooks();
    const Impl::Route* route = impl_->RouteOf(device);
    return route != nullptr && impl_->Present(*route);
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

bool SimBus::StreamTrace(const std::string& path, std::string* error, bool eachLine) {
    return impl_->trace.StreamTo(path, error, eachLine);
}

void SimBus::TraceNote(const std::string& line) { impl_->trace.Note(line); }

void SimBus::StreamTrace(std::FILE* file, bool eachLine) { impl_->trace.StreamTo(file, eachLine); }

bool SimBus::EndTraceStream() { return impl_->trace.EndStream(); }

void SimBus::Unplug() { impl_->Unplug(); }
void SimBus::Replug() { impl_->Replug(); }

void SimBus::ResetDevice(SimDevice& device) {
    Impl::Route* route = impl_->RouteOf(device);
    if (route != nullptr) impl_->Reset(*route);
}

bool SimBus::Plugged() const {
    impl_->RunHooks();
    if (!impl_->machine.Plugged()) return false;
    for (const Impl::Route* reader : impl_->readers) {
        if (!reader->link->Plugged()) return false;
    }
    return true;
}

std::size_t SimBus::ReaderCount() const { return impl_->readers.size(); }

SimDevice* SimBus::Reader(std::size_t reader) {
    return reader < impl_->readers.size() ? impl_->readers[reader]->device : nullptr;
}

void SimBus::UnplugReader(std::size_t reader) { impl_->UnplugReader(reader); }
void SimBus::ReplugReader(std::size_t reader) { impl_->ReplugReader(reader); }

bool SimBus::ReaderPlugged(std::size_t reader) const {
    impl_->RunHooks();
    return impl_->Present(*impl_->readers.at(reader));
}

std::size_t SimBus::ReaderNamed(const std::string& name) const {
    if (name.empty()) return kNoReader;
    if (std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        if (name.size() > 6) return kNoReader;
        const std::size_t index = std::stoul(name);
        return index < impl_->readers.size() ? index : kNoReader;
    }
    for (std::size_t r = 0; r < impl_->readers.size(); ++r) {
        const SimDevice& device = *impl_->readers[r]->device;
        for (std::size_t i = 0; i < device.UnitCount(); ++i) {
            const SimUnit& unit = *device.Unit(i);
            const bool letter = name.size() == 1 && unit.DriveLetter() != 0 &&
                                UpperLetter(name[0]) == unit.DriveLetter();
            if (letter || (!unit.NodeName().empty() && unit.NodeName() == name)) return r;
        }
    }
    return kNoReader;
}

SimLink& SimBus::MachineLink() { return impl_->machine; }
SimLink& SimBus::ReaderLink(std::size_t reader) { return *impl_->readers.at(reader)->link; }

void SimBus::SetLatencyMicroseconds(std::uint32_t microseconds) {
    impl_->machine.SetLatencyMicroseconds(microseconds);
}

std::uint32_t SimBus::LatencyMicroseconds() const { return impl_->machine.LatencyMicroseconds(); }

void SimBus::OverrideLatencyMicroseconds(std::uint32_t microseconds) {
    impl_->machine.SetLatencyMicroseconds(microseconds);
    for (Impl::Route* reader : impl_->readers) reader->link->SetLatencyMicroseconds(0);
}

void SimBus::UnplugAfterCommands(std::uint32_t count) { impl_->machine.UnplugAfterCommands(count); }
void SimBus::HangOnCommand(std::uint32_t n) { impl_->machine.HangOnCommand(n); }
void SimBus::HangFromCommand(std::uint32_t n) { impl_->machine.HangFromCommand(n); }
void SimBus::FailOnCommand(std::uint32_t n, std::uint8_t senseKey, std::uint8_t asc,
                           std::uint8_t ascq, std::uint8_t additionalLength) {
    impl_->machine.FailOnCommand(n, senseKey, asc, ascq, additionalLength);
}
std::uint64_t SimBus::ReaderCommandCount() const { return impl_->machine.Commands(); }

void SimBus::SchedulePlug(std::size_t reader, bool plugIn, PlugMoment when) {
    SimLockGuard hold(impl_->hooksMutex);
    impl_->events.push_back(Impl::PlugEvent{reader, plugIn, when, false});
    impl_->Arm();
}

void SimBus::SetClock(std::function<std::uint64_t()> nowMilliseconds) {
    SimLockGuard hold(impl_->hooksMutex);
    impl_->clock = std::move(nowMilliseconds);
    impl_->clockOrigin = impl_->clock();
    impl_->nextPoll = 0;
}

void SimBus::FollowControlFolder(const std::string& folder, std::uint32_t pollMilliseconds) {
    SimLockGuard hold(impl_->hooksMutex);
    impl_->control.reset(new ControlFolder(*this, folder));
    impl_->pollMilliseconds = pollMilliseconds;
    impl_->nextPoll = 0;
    impl_->Arm();
}

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
