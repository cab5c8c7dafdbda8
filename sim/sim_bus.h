#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The simulated flash disk: a model of the reader (and of the foreign drives beside it) written
// from what the program relies on at the device side. The whole simulated machine is a SimBus:
// host adapters with targets (ASPI addressing) and drive letters (pass-through addressing) that
// lead to the same devices. A plain-text description (sim/DESCRIPTION.md) builds one.
//
// Everything here is the device side: the faces that decode the ASPI request block and the
// pass-through requests (sim_os_layer.h, dll/) turn requests into Execute calls.

namespace sim {

enum class Direction { None, In, Out };

// Adapter id of a device that is not on the ASPI bus (a foreign drive reached only by letter).
constexpr std::uint8_t kNoAspiAddress = 0xFF;

// What a command came to at the device.
enum class Outcome {
    Good,            // completed, SCSI status GOOD
    CheckCondition,  // completed, SCSI status CHECK CONDITION; sense data is pending
    NoDevice,        // nothing answers at this address (absent, or the stick was pulled)
    Hung,            // the command never completes
};

struct TraceEntry {
    std::string device;    // "reader 0 lun 1", "foreign C", ...
    std::uint8_t cdb[12];  // the command bytes as received
    Direction direction;
    std::uint32_t length;  // data phase length as requested
    Outcome outcome;
};

class SimFlashDisk;
class SimDevice;
class SimUnit;

// Settings of the ASPI library as the in-process face and the DLL present it.
struct AspiLibraryConfig {
    bool present = true;       // false: WNASPI32.DLL cannot be loaded
    std::string missingEntry;  // an entry point name that is not exported, or empty
    bool supportInfoOverridden = false;
    std::uint32_t supportInfo = 0;  // GetASPI32SupportInfo's value when overridden
};

class SimBus {
  public:
    SimBus();
    ~SimBus();
    SimBus(const SimBus&) = delete;
    SimBus& operator=(const SimBus&) = delete;

    // Builds a machine from a description (text) or a description file. On error returns
    // nullptr and a one-line reason with the line number.
    static std::unique_ptr<SimBus> Parse(const std::string& description, std::string* error);
    static std::unique_ptr<SimBus> Load(const std::string& path, std::string* error);

    // ASPI view.
    const AspiLibraryConfig& AspiLibrary() const;
    std::uint8_t HostAdapterCount() const;
    std::uint32_t AspiSupportInfo() const;  // (1 << 8) | adapters unless overridden
    Outcome ExecuteAspi(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun,
                        const std::uint8_t cdb[12], Direction direction, std::uint8_t* buffer,
                        std::uint32_t length);

    // Pass-through view: drive letters 'C'..'Z'.
    bool HasDrive(char letter) const;
    bool DirectPassThroughSupported() const;
    Outcome ExecuteDrive(char letter, const std::uint8_t cdb[12], Direction direction,
                         std::uint8_t* buffer, std::uint32_t length);

    // Sense data a CHECK CONDITION left, as REQUEST SENSE would return it (18 bytes).
    // Mostly for tests; the program reads it with REQUEST SENSE. All zero for no unit.
    std::vector<std::uint8_t> PendingSense(std::uint8_t adapter, std::uint8_t target,
                                           std::uint8_t lun) const;

    // The flash disks (units with medium code "DS") in description order; nullptr past the end.
    SimFlashDisk* FlashDisk(std::size_t index = 0);
    std::size_t FlashDiskCount() const;

    // Every command any device received, in order.
    const std::vector<TraceEntry>& Trace() const;
    void ClearTrace();
    // Writes the trace as text, one command per line.
    bool WriteTrace(const std::string& path) const;
    // One trace line: "reader 0 lun 0: E8 20 60 00 00 01 00 00 00 00 00 00 in 528 good".
    static std::string FormatTraceEntry(const TraceEntry& entry);
    // Long benchmark runs may switch the trace off (on by default).
    void SetTraceEnabled(bool enabled);

    // Pulling and re-plugging the reader(s): while unplugged every address answers NoDevice
    // and the drive letters of the reader's units are gone. Re-plugging brings a flash disk that
    // was stopped (START STOP UNIT) back up.
    void Unplug();
    void Replug();
    bool Plugged() const;

    // A pause per command, for realistic demos (0 by default).
    void SetLatencyMicroseconds(std::uint32_t microseconds);
    std::uint32_t LatencyMicroseconds() const;

    // Faults of the machine, counted over the commands that reach a reader (foreign drives and
    // empty addresses do not count). After `count` more commands the reader(s) are pulled, as by
    // Unplug(); 0 cancels.
    void UnplugAfterCommands(std::uint32_t count);
    // The n-th command from now (1: the next one) never completes: Outcome::Hung, no effect.
    // 0 cancels. Later commands complete as usual.
    void HangOnCommand(std::uint32_t n);
    // Commands that reached a reader since the bus was built.
    std::uint64_t ReaderCommandCount() const;

    // The devices in the order they were added, and the units by address.
    std::size_t DeviceCount() const;
    SimDevice* Device(std::size_t index);
    SimUnit* UnitAt(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun);
    SimUnit* UnitOfDrive(char letter);  // regardless of plugging

    // Adds devices (used by the description parser; tests may build machines directly).
    SimDevice& AddReader(std::uint8_t adapter, std::uint8_t target);
    SimDevice& AddForeignDrive(char letter, std::uint8_t adapter, std::uint8_t target,
                               const std::string& name);
    void SetHostAdapterCount(std::uint8_t count);
    AspiLibraryConfig& MutableAspiLibrary();
    void SetDirectPassThroughSupported(bool supported);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sim
