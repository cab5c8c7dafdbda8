#include "cli/shared/machine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <ostream>

#include "cli/shared/exit_codes.h"
#include "cli/shared/fd_output_buffer.h"
#include "cli/shared/messages.h"
#include "sim/sim_device.h"
#include "sim/sim_flash_disk.h"

namespace fs = std::filesystem;

namespace {

// Bank 0's first pages: enough to hold an old CIS page and the vendor page behind it.
constexpr std::uint32_t kExportedPages = 256;

}  // namespace

Machine::~Machine() = default;

ScsiPort& Machine::Port() {
    if (echoPort_) return *echoPort_;
    if (recordPort_) return *recordPort_;
    if (statePort_) return *statePort_;
    if (simPort_) return *simPort_;
    return host_->Port();
}

std::vector<std::string> Machine::Nodes() {
    std::vector<std::string> nodes;
    for (std::uint32_t place : places_) nodes.push_back(Port().PlaceName(place));
    return nodes;
}

int Machine::PermissionDenials() const { return host_ ? host_->PermissionDenials() : 0; }

std::vector<std::string> Machine::BusyNodes() const {
    return host_ ? host_->BusyNodes() : std::vector<std::string>();
}

bool Machine::Claim(std::uint32_t place, HeldStick::Scope scope, std::unique_ptr<HeldStick>* claim,
                    std::string* reason, bool* busy) {
    *busy = false;
    return !host_ || host_->Hold(place, scope, claim, reason, busy);
}

std::string Machine::UsbSerial(std::uint32_t place) {
    if (simPort_) {
        const sim::SimDevice* device = simPort_->DeviceAt(place);
        return device != nullptr ? device->Serial() : std::string();
    }
    return UsbSerialOfNode(Port().PlaceName(place));
}

std::string Machine::UsbSerialOfNode(const std::string& node) {
    return host_ ? host_->UsbSerial(node) : std::string();
}

std::string Machine::UsbPortOfNode(const std::string& node) {
    return host_ ? host_->UsbPort(node) : std::string();
}

int Machine::ReadOnlyFlag(const std::string& node) {
    return host_ ? host_->ReadOnlyFlag(node) : -1;
}

std::vector<std::string> Machine::Users(const std::string& node) {
    return host_ ? host_->Users(node) : std::vector<std::string>();
}

bool Machine::MayCarryVendorCommands(const std::string& node, std::string* reason) {
    return !host_ || host_->MayCarryVendorCommands(node, reason);
}

std::string Machine::UsbPort(std::uint32_t place) {
    if (simPort_) return simPort_->PlaceName(place);
    return UsbPortOfNode(Port().PlaceName(place));
}

bool Machine::SimulatedReplug(std::uint32_t place, std::uint64_t* sectors) {
    if (!simPort_) return false;
    const sim::SimDevice* device = simPort_->DeviceAt(place);
    for (std::size_t reader = 0; device != nullptr && reader < bus_->ReaderCount(); ++reader) {
        if (bus_->Reader(reader) != device) continue;
        bus_->UnplugReader(reader);
        bus_->ReplugReader(reader);
        const sim::SimUnit* unit = simPort_->UnitAt(place);
        const sim::SimFlashDisk* disk = unit != nullptr ? unit->FlashDisk() : nullptr;
        *sectors = disk != nullptr ? disk->SectorCount() : 0;
        return true;
    }
    return false;
}

bool Machine::StickNode(const std::string& argument, std::string* node, std::string* error) {
    if (simPort_) {
        const std::uint32_t place = simPort_->FindPlace(argument);
        if (place >= simPort_->PlaceCount()) {
            *error = argument + ": no such device in the simulated machine";
            return false;
        }
        *node = simPort_->PlaceName(place);
        return true;
    }
    return host_->StickNode(argument, node, error);
}

namespace {

std::vector<std::uint32_t> AllPlaces(const ScsiPort& port) {
    std::vector<std::uint32_t> places;
    for (std::uint32_t place = 0; place < port.PlaceCount(); ++place) places.push_back(place);
    return places;
}

}  // namespace

std::unique_ptr<Machine> Machine::Open(const CliOptions& options, int* exitCode) {
    std::string error;
    std::unique_ptr<Machine> machine = Build(options, &error, exitCode);
    if (!machine) Complain(error);
    return machine;
}

std::unique_ptr<Machine> Machine::Build(const CliOptions& options, std::string* error,
                                        int* exitCode) {
    std::unique_ptr<Machine> machine(new Machine());
    if (!options.simulate.empty()) {
        std::string reason;
        machine->bus_ = sim::SimBus::Load(options.simulate, &reason);
        if (!machine->bus_) {
            *error = options.simulate + ": " + reason;
            *exitCode = kExitUsage;
            return nullptr;
        }
        if (options.simLatencyMicroseconds) {
            machine->bus_->OverrideLatencyMicroseconds(*options.simLatencyMicroseconds);
        }
        // A folder through which a test plugs and pulls the simulated sticks while we run
        // (the same variable as the simulator's WNASPI32.DLL reads).
        const char* control = std::getenv("BREVANT_SIM_CONTROL");
        if (control != nullptr && *control != '\0') machine->bus_->FollowControlFolder(control);
        // The trace goes to its file line by line as the commands come, so that a long run
        // keeps none of it in memory.
        if (!options.tracePath.empty()) {
            std::FILE* stream = machine->OpenTraceStream(options.tracePath, error);
            if (stream == nullptr) {
                *exitCode = kExitUsage;
                return nullptr;
            }
            machine->bus_->StreamTrace(stream);
        }
        machine->simPort_ = std::make_unique<sim::SimPort>(*machine->bus_);
        const char* state = std::getenv("BREVANT_SIM_STATE");
        sim::SimFlashDisk* first = machine->bus_->FlashDisk(0);
        if (state != nullptr && *state != '\0' && first != nullptr) {
            if (!sim::LoadDiskState(*first, state, &reason)) {
                *error = reason;
                *exitCode = kExitUsage;
                return nullptr;
            }
            machine->statePort_ =
                std::make_unique<sim::StateKeepingPort>(*machine->simPort_, *first, state);
        }
        machine->places_ = AllPlaces(*machine->simPort_);
        if (!options.device.empty()) {
            const std::uint32_t named = machine->simPort_->FindPlace(options.device);
            if (named >= machine->simPort_->PlaceCount()) {
                *error = options.device + ": no such device in the simulated machine";
                *exitCode = kExitNoDisk;
                return nullptr;
            }
            machine->places_ = {named};
        }
        machine->EchoCommandsIfAsked(options);
        return machine;
    }

    machine->host_ = HostDevices::Open(options, error, exitCode);
    if (!machine->host_) return nullptr;
    machine->places_ = machine->host_->Places();
    if (!options.tracePath.empty()) {
        std::FILE* stream = machine->OpenTraceStream(options.tracePath, error);
        if (stream == nullptr) {
            *exitCode = kExitUsage;
            return nullptr;
        }
        machine->recordPort_ = std::make_unique<CommandRecordPort>(machine->host_->Port(), stream);
    }
    machine->EchoCommandsIfAsked(options);
    return machine;
}

std::FILE* Machine::OpenTraceStream(const std::string& path, std::string* error) {
    if (!traceFile_.Open(path, error)) return nullptr;
    std::FILE* stream = traceFile_.Stream();
    if (stream == nullptr) *error = path + ": cannot be written: " + std::strerror(errno);
    return stream;
}

void Machine::EchoCommandsIfAsked(const CliOptions& options) {
    constexpr int kEchoVerbosity = 2;
    if (options.verbosity < kEchoVerbosity) return;
    ScsiPort& base = Port();
    echoPort_ = std::make_unique<CommandEchoPort>(base, stderr);
}

namespace {

// Writes one export through a file opened as every output is; false with the reason.
bool Export(const std::string& path, const std::function<bool(std::ostream&, std::string*)>& write,
            std::string* reason) {
    OutputFile file;
    if (!file.Open(path, reason)) return false;
    FdOutputBuffer buffer(file.Fd());
    std::ostream out(&buffer);
    std::string why;
    if (!write(out, &why)) {
        *reason = path + ": " + why;
        return false;
    }
    return file.Finish(reason);
}

}  // namespace

bool Machine::WriteExports(const CliOptions& options, std::string* error) {
    if (recordPort_) {
        std::string reason;
        if (!recordPort_->Finish()) {
            *error = options.tracePath + ": cannot write the trace";
            return false;
        }
        if (!traceFile_.Finish(&reason)) {
            *error = reason;
            return false;
        }
    }
    if (!bus_) return true;
    // The stick --device named, else the machine's first.
    sim::SimFlashDisk* disk = bus_->FlashDisk(0);
    if (places_.size() == 1 && simPort_->UnitAt(places_[0]) != nullptr &&
        simPort_->UnitAt(places_[0])->FlashDisk() != nullptr) {
        disk = simPort_->UnitAt(places_[0])->FlashDisk();
    }
    bool ok = true;
    auto note = [&](const std::string& what) {
        if (!error->empty()) *error += "; ";
        *error += what;
        ok = false;
    };
    auto exportOf = [&](const std::string& path,
                        const std::function<bool(std::ostream&, std::string*)>& write) {
        std::string reason;
        if (disk == nullptr) {
            note(path + ": the simulated machine has no flash disk");
        } else if (!Export(path, write, &reason)) {
            note(reason);
        }
    };
    if (!options.exportImage.empty()) {
        exportOf(options.exportImage, [&disk](std::ostream& out, std::string* why) {
            return disk->ExportImage(out, why);
        });
    }
    if (!options.exportPages.empty()) {
        exportOf(options.exportPages, [&disk](std::ostream& out, std::string* why) {
            return disk->ExportBankPages(0, 0, kExportedPages, out, why);
        });
    }
    if (!options.tracePath.empty()) {
        std::string reason;
        if (!bus_->EndTraceStream()) {
            note(options.tracePath + ": cannot write the trace");
        } else if (!traceFile_.Finish(&reason)) {
            note(reason);
        }
    }
    return ok;
}
