#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_command.h"
#include "sim/sim_link.h"
#include "sim/sim_trace.h"

// The simulated flash disk: a model of the reader (and of the foreign drives beside it) written
// from what the program relies on at the device side. The whole simulated machine is a SimBus:
// host adapters with targets (ASPI addressing) and drive letters (pass-through addressing) that
// lead to the same devices. A plain-text description (sim/DESCRIPTION.md) builds one.
//
// Everything here is the device side: the faces that decode the ASPI request block and the
// pass-through requests (sim_os_layer.h, dll/) and the Linux-side port (sim_port.h) turn
// requests into Execute calls. Commands to different readers may come from different threads at
// once (one command at a time per reader), and so may plugs and pulls; devices are added and
// the trace is set up before commands start.

namespace sim {

// Thirty-two sticks with every fault listed take a few kilobytes.
constexpr std::size_t kMaxDescriptionBytes = 1024 * 1024;

// Adapter id of a device that is not on the ASPI bus (a foreign drive reached only by letter).
constexpr std::uint8_t kNoAspiAddress = 0xFF;

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

    // Builds a machine from a description (text) or a description file: a plain file of at
    // most kMaxDescriptionBytes. On error returns nullptr and a one-line reason, with the line
    // number when the text is at fault (the caller names the file).
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

    // The trace: what every command to a device came to. Nothing is recorded unless asked:
    // SetTraceEnabled keeps the entries in memory, StreamTrace writes them to a file as they
    // come; both may be on.
    void SetTraceEnabled(bool enabled);  // off by default
    // Every command a device received while the trace was kept, in order.
    const std::vector<TraceEntry>& Trace() const;
    void ClearTrace();
    // Writes the kept entries as text, one command per line.
    bool WriteTrace(const std::string& path) const;
    // Writes one line per command to a new file at `path` from now on, without keeping them; an
    // earlier stream is ended. False with a reason when the file cannot be created.
    // eachLine: every line reaches the file before its command's outcome goes back (for a face
    // whose host reads the file while the machine runs).
    bool StreamTrace(const std::string& path, std::string* error, bool eachLine = false);
    // The same into a stream the caller opened (and the bus closes when the stream ends).
    void StreamTrace(std::FILE* file, bool eachLine = false);
    // A line of a face's own among the commands of the stream (nothing when none is open).
    void TraceNote(const std::string& line);
    // Ends the stream; true when every line reached the file (also when there was none).
    bool EndTraceStream();
    // One trace line: "reader 0 lun 0: E8 20 60 00 00 01 00 00 00 00 00 00 in 528 good".
    static std::string FormatTraceEntry(const TraceEntry& entry);

    // --- Plugs and faults ------------------------------------------------------------------
    // Every reader (a stick, or a card reader) hangs on a link of its own, and all of them on
    // the machine's: each link has a plug, a latency, a hang-on and a hang-from countdown and an
    // unplug-after countdown (sim_link.h). Only commands that reach a reader count, on its own
    // link and on the machine's; foreign drives suffer none of it.

    // The whole machine: Unplug pulls every reader (every address answers NoDevice and the
    // readers' drive letters are gone); Replug plugs the machine and every pulled reader back
    // in. A reader that comes back is power-cycled: a stopped (START STOP UNIT) flash disk comes
    // back up, reports UNIT ATTENTION once, and the reader's lock-up (hang-from) is over.
    // Plugged: the machine and every reader are in.
    void Unplug();
    void Replug();
    bool Plugged() const;

    // One reader, by its number in description order ("reader N" in the trace).
    std::size_t ReaderCount() const;
    SimDevice* Reader(std::size_t reader);
    void UnplugReader(std::size_t reader);
    void ReplugReader(std::size_t reader);
    bool ReaderPlugged(std::size_t reader) const;  // its own plug and the machine's
    // The host reset a device (a USB reset, not a re-plug): each of its flash disks starts afresh
    // (SimFlashDisk::Reset); a lock-up stays, as a controller's does that a reset cannot reach.
    void ResetDevice(SimDevice& device);
    // The reader a name stands for: its number ("3"), or a drive letter ("E") or node name
    // ("stick07") of one of its units; kNoReader when none.
    static constexpr std::size_t kNoReader = static_cast<std::size_t>(-1);
    std::size_t ReaderNamed(const std::string& name) const;

    // The links: the machine's, and each reader's own.
    SimLink& MachineLink();
    SimLink& ReaderLink(std::size_t reader);

    // The machine's faults (MachineLink()).
    void SetLatencyMicroseconds(std::uint32_t microseconds);  // a pause per command, 0: none
    std::uint32_t LatencyMicroseconds() const;
    // Every reader command takes `microseconds`: the machine's latency becomes that and no
    // reader keeps one of its own (what brevant --sim-latency means).
    void OverrideLatencyMicroseconds(std::uint32_t microseconds);
    // After `count` more commands the readers are pulled, as by Unplug(); 0 cancels.
    void UnplugAfterCommands(std::uint32_t count);
    // The n-th command from now (1: the next one) never completes: Outcome::Hung, no effect.
    // 0 cancels. Later commands complete as usual.
    void HangOnCommand(std::uint32_t n);
    // The n-th command from now and every later one never complete, until a re-plug.
    void HangFromCommand(std::uint32_t n);
    // The n-th command from now ends with CHECK CONDITION without reaching the device; the
    // REQUEST SENSE after it answers this sense key and additional sense code (and qualifier),
    // saying it carries `additionalLength` bytes after its eighth. 0 cancels.
    void FailOnCommand(std::uint32_t n, std::uint8_t senseKey = 0x03, std::uint8_t asc = 0x11,
                       std::uint8_t ascq = 0x00, std::uint8_t additionalLength = 10);
    // Commands that reached a reader since the bus was built.
    std::uint64_t ReaderCommandCount() const;

    // Pulls and plugs on a schedule: once `value` milliseconds of wall time have passed since
    // the machine was built (or its clock was set), or once the readers have received `value`
    // commands in all. `reader` is a reader's number or kWholeMachine.
    struct PlugMoment {
        enum class Kind { Milliseconds, Commands };
        Kind kind = Kind::Milliseconds;
        std::uint64_t value = 0;
    };
    static constexpr std::size_t kWholeMachine = static_cast<std::size_t>(-2);
    void SchedulePlug(std::size_t reader, bool plugIn, PlugMoment when);
    // The wall clock the schedule reads, in milliseconds (tests set their own); time 0 of the
    // schedule is the clock's value when it is set.
    void SetClock(std::function<std::uint64_t()> nowMilliseconds);
    // Follows a control folder (machine/control_folder.h) while the machine runs: it is looked into
    // at most every `pollMilliseconds`, when a command comes or a face asks whether a drive is
    // there.
    void FollowControlFolder(const std::string& folder, std::uint32_t pollMilliseconds = 5);

    // Any unit by its device and LUN, for a face with an addressing of its own (SimPort).
    Outcome ExecuteUnit(SimDevice& device, std::uint8_t lun, const std::uint8_t cdb[12],
                        Direction direction, std::uint8_t* buffer, std::uint32_t length);
    // Whether the device answers: foreign drives always, readers while plugged.
    bool DevicePresent(const SimDevice& device) const;

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
