#include "sim/sim_bus.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include "core/plain_file.h"
#include "sim/machine/bus_impl.h"
#include "sim/machine/description.h"
#include "sim/sim_flash_disk.h"

namespace sim {

namespace {

char UpperLetter(char letter) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
}

}  // namespace

// Readers: serial, trace, the machine's plug, the reader's plug, latencies and hangs
// (machine's, then reader's), failed commands (machine's, then reader's), then the device.
// Foreign drives suffer no faults: serial, trace, device.
SimBus::Impl::Route& SimBus::Impl::AddRoute(SimDevice& device) {
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

Outcome SimBus::Impl::Run(Route& route, std::uint8_t lun, const std::uint8_t* cdb,
                          Direction direction, std::uint8_t* buffer, std::uint32_t length) {
    const UnitCommand command{*route.device, lun, cdb, direction, buffer, length};
    return route.stack.Front().Execute(command);
}

SimBus::Impl::Route* SimBus::Impl::RouteOf(const SimDevice& device) {
    for (auto& route : routes) {
        if (route->device == &device) return route.get();
    }
    return nullptr;
}

SimBus::Impl::Route* SimBus::Impl::RouteAt(std::uint8_t adapter, std::uint8_t target) {
    for (auto& route : routes) {
        if (route->device->Adapter() == adapter && route->device->Target() == target) {
            return route.get();
        }
    }
    return nullptr;
}

SimBus::Impl::Route* SimBus::Impl::RouteOfDrive(char letter, std::uint8_t* lun) {
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

SimBus::SimBus() : impl_(new Impl(*this)) {}
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
    impl_->schedule.RunDue();
    if (adapter == kNoAspiAddress) return Outcome::NoDevice;
    Impl::Route* route = impl_->RouteAt(adapter, target);
    if (route == nullptr || lun >= route->device->UnitCount()) return Outcome::NoDevice;
    return impl_->Run(*route, lun, cdb, direction, buffer, length);
}

bool SimBus::HasDrive(char letter) const {
    impl_->schedule.RunDue();
    std::uint8_t lun = 0;
    const Impl::Route* route = impl_->RouteOfDrive(letter, &lun);
    return route != nullptr && impl_->Present(*route);
}

bool SimBus::DirectPassThroughSupported() const { return impl_->directPassThrough; }

Outcome SimBus::ExecuteDrive(char letter, const std::uint8_t cdb[12], Direction direction,
                             std::uint8_t* buffer, std::uint32_t length) {
    impl_->schedule.RunDue();
    std::uint8_t lun = 0;
    Impl::Route* route = impl_->RouteOfDrive(letter, &lun);
    if (route == nullptr) return Outcome::NoDevice;
    return impl_->Run(*route, lun, cdb, direction, buffer, length);
}

Outcome SimBus::ExecuteUnit(SimDevice& device, std::uint8_t lun, const std::uint8_t cdb[12],
                            Direction direction, std::uint8_t* buffer, std::uint32_t length) {
    impl_->schedule.RunDue();
    Impl::Route* route = impl_->RouteOf(device);
    if (route == nullptr || lun >= device.UnitCount()) return Outcome::NoDevice;
    return impl_->Run(*route, lun, cdb, direction, buffer, length);
}

bool SimBus::DevicePresent(const SimDevice& device) const {
    impl_->schedule.RunDue();
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

std::size_t SimBus::ReaderCount() const { return impl_->readers.size(); }

SimDevice* SimBus::Reader(std::size_t reader) {
    return reader < impl_->readers.size() ? impl_->readers[reader]->device : nullptr;
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
