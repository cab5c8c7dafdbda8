#include "sim/sim_bus.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "sim/sim_description.h"
#include "sim/sim_device.h"

namespace sim {

namespace {

const char* DirectionName(Direction direction) {
    switch (direction) {
        case Direction::In:
            return "in";
        case Direction::Out:
            return "out";
        default:
            return "none";
    }
}

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::Good:
            return "good";
        case Outcome::CheckCondition:
            return "check-condition";
        case Outcome::NoDevice:
            return "no-device";
        default:
            return "hung";
    }
}

char UpperLetter(char letter) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
}

}  // namespace

struct SimBus::Impl {
    std::vector<std::unique_ptr<SimDevice>> devices;
    AspiLibraryConfig aspi;
    bool adapterCountSet = false;
    std::uint8_t adapterCount = 0;
    bool directPassThrough = true;
    bool plugged = true;
    std::uint32_t latencyMicroseconds = 0;
    std::uint32_t unplugAfter = 0;
    std::uint32_t hangOn = 0;
    std::uint64_t readerCommands = 0;
    bool traceEnabled = true;
    std::vector<TraceEntry> trace;

    std::string UnitName(const SimDevice& device, std::uint8_t lun) const {
        if (!device.IsReader()) return device.Name();
        return device.Name() + " lun " + std::to_string(lun);
    }

    void Record(const std::string& name, const std::uint8_t* cdb, Direction direction,
                std::uint32_t length, Outcome outcome) {
        if (!traceEnabled) return;
        TraceEntry entry;
        entry.device = name;
        std::copy(cdb, cdb + 12, entry.cdb);
        entry.direction = direction;
        entry.length = length;
        entry.outcome = outcome;
        trace.push_back(std::move(entry));
    }

    // Every command that reaches a device comes through here.
    Outcome Run(SimDevice& device, std::uint8_t lun, const std::uint8_t* cdb, Direction direction,
                std::uint8_t* buffer, std::uint32_t length) {
        const std::string name = UnitName(device, lun);
        if (!device.IsReader()) {
            const Outcome outcome = device.Execute(lun, cdb, direction, buffer, length);
            Record(name, cdb, direction, length, outcome);
            return outcome;
        }
        if (!plugged) {
            Record(name, cdb, direction, length, Outcome::NoDevice);
            return Outcome::NoDevice;
        }
        ++readerCommands;
        if (latencyMicroseconds > 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(latencyMicroseconds));
        }
        Outcome outcome;
        if (hangOn > 0 && --hangOn == 0) {
            outcome = Outcome::Hung;
        } else {
            outcome = device.Execute(lun, cdb, direction, buffer, length);
        }
        Record(name, cdb, direction, length, outcome);
        if (unplugAfter > 0 && --unplugAfter == 0) plugged = false;
        return outcome;
    }

    SimDevice* DeviceAt(std::uint8_t adapter, std::uint8_t target) {
        for (auto& device : devices) {
            if (device->Adapter() == adapter && device->Target() == target) return device.get();
        }
        return nullptr;
    }

    // The device and LUN behind a drive letter.
    SimDevice* DeviceOfDrive(char letter, std::uint8_t* lun) {
        letter = UpperLetter(letter);
        if (letter < 'C' || letter > 'Z') return nullptr;
        for (auto& device : devices) {
            for (std::size_t i = 0; i < device->UnitCount(); ++i) {
                if (device->Unit(i)->DriveLetter() == letter) {
                    *lun = static_cast<std::uint8_t>(i);
                    return device.get();
                }
            }
        }
        return nullptr;
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
    SimDevice* device = impl_->DeviceAt(adapter, target);
    if (device == nullptr || lun >= device->UnitCount()) return Outcome::NoDevice;
    return impl_->Run(*device, lun, cdb, direction, buffer, length);
}

bool SimBus::HasDrive(char letter) const {
    std::uint8_t lun = 0;
    SimDevice* device = impl_->DeviceOfDrive(letter, &lun);
    return device != nullptr && (!device->IsReader() || impl_->plugged);
}

bool SimBus::DirectPassThroughSupported() const { return impl_->directPassThrough; }

Outcome SimBus::ExecuteDrive(char letter, const std::uint8_t cdb[12], Direction direction,
                             std::uint8_t* buffer, std::uint32_t length) {
    std::uint8_t lun = 0;
    SimDevice* device = impl_->DeviceOfDrive(letter, &lun);
    if (device == nullptr) return Outcome::NoDevice;
    return impl_->Run(*device, lun, cdb, direction, buffer, length);
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

const std::vector<TraceEntry>& SimBus::Trace() const { return impl_->trace; }
void SimBus::ClearTrace() { impl_->trace.clear(); }
void SimBus::SetTraceEnabled(bool enabled) { impl_->traceEnabled = enabled; }

std::string SimBus::FormatTraceEntry(const TraceEntry& entry) {
    std::string line = entry.device + ":";
    char hex[4];
    for (std::uint8_t byte : entry.cdb) {
        std::snprintf(hex, sizeof hex, " %02X", byte);
        line += hex;
    }
    line += " ";
    line += DirectionName(entry.direction);
    line += " " + std::to_string(entry.length) + " ";
    line += OutcomeName(entry.outcome);
    return line;
}

bool SimBus::WriteTrace(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const TraceEntry& entry : impl_->trace) out << FormatTraceEntry(entry) << '\n';
    return static_cast<bool>(out);
}

void SimBus::Unplug() { impl_->plugged = false; }

void SimBus::Replug() {
    if (impl_->plugged) return;
    impl_->plugged = true;
    for (auto& device : impl_->devices) {
        for (std::size_t i = 0; i < device->UnitCount(); ++i) {
            SimFlashDisk* disk = device->Unit(i)->FlashDisk();
            if (disk != nullptr) disk->PowerCycle();
        }
    }
}

bool SimBus::Plugged() const { return impl_->plugged; }

void SimBus::SetLatencyMicroseconds(std::uint32_t microseconds) {
    impl_->latencyMicroseconds = microseconds;
}

std::uint32_t SimBus::LatencyMicroseconds() const { return impl_->latencyMicroseconds; }

void SimBus::UnplugAfterCommands(std::uint32_t count) { impl_->unplugAfter = count; }
void SimBus::HangOnCommand(std::uint32_t n) { impl_->hangOn = n; }
std::uint64_t SimBus::ReaderCommandCount() const { return impl_->readerCommands; }

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
