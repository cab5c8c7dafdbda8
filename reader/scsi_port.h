#pragma once
#include <array>
#include <cstdint>
#include <string>

// The seam between the reader's command set and the platform: a port executes one SCSI command
// block on one address and says what came of it. There is one implementation per way of
// reaching a device (ASPI for Win32, the Windows SCSI pass-through requests, Linux SG_IO, the
// simulated flash disk); command building and sense classification stay above the seam.
//
// A port reaches a number of places. How discovery walks them depends on the port's shape:
// under ASPI a place is one SCSI target (host adapter and target id) whose logical units are its
// LUNs; every other port is a row of drives, one unit each, that are opened one by one.

enum class DataPhase { None, In, Out };

// What one command came to.
enum class CommandStatus : std::uint8_t {
    Good,            // completed with SCSI status GOOD
    CheckCondition,  // completed with CHECK CONDITION; the sense bytes, when the port has them
    Failed,          // any other status, or a driver error the device did answer through
    NoDevice,        // nothing answers there (absent, or the stick was pulled)
    TimedOut,        // no answer within the time-out
    Refused,         // not sent: the request could not be made (no such place, bad arguments)
    // The host's side of the way to the device failed (its adapter, the bus, the driver): the
    // command may or may not have reached the device, and nothing was heard from it. It says
    // nothing about the device, which may be gone; Linux ends the commands of a stick being
    // pulled so before it says the stick is gone.
    HostError,
};

constexpr std::size_t kMaxSenseBytes = 32;

struct CommandOutcome {
    CommandStatus status = CommandStatus::Refused;
    std::uint32_t requested = 0;    // data bytes the command was to move
    std::uint32_t transferred = 0;  // data bytes moved
    std::uint8_t senseLength = 0;   // sense bytes that came back with a CHECK CONDITION
    std::array<std::uint8_t, kMaxSenseBytes> sense{};
    // The device answered the command first with a reset notice (UNIT ATTENTION 29h), and it
    // was sent again: this is the outcome of the second sending.
    bool afterReset = false;

    bool Good() const { return status == CommandStatus::Good; }
    // No status at all: the device did not answer (time-out) or is not there.
    bool Silent() const {
        return status == CommandStatus::TimedOut || status == CommandStatus::NoDevice;
    }
    // Nothing was heard from the device, for whatever reason.
    bool Unheard() const { return Silent() || status == CommandStatus::HostError; }
    // The data bytes that were to move and did not.
    std::uint32_t Residual() const { return requested > transferred ? requested - transferred : 0; }
};

// The largest transfer any command makes (the Windows buffered pass-through request carries no
// more); a port may take less.
constexpr std::uint32_t kMaxTransfer = 65536;

// What the system knows of the device at a place without asking the device.
enum class PlacePresence {
    Unknown,  // the system does not say (every port but Linux's)
    There,    // the system has the device, attached and running
    Gone,     // the system has let the device go (pulled, or taken offline)
};

enum class PortShape {
    ReaderLuns,  // a place is a target; its units are LUNs 0, 1, 2 (ASPI)
    Drives,      // a place is one drive, opened before use (pass-through, SG_IO, simulator)
};

struct PortAddress {
    std::uint32_t place = 0;
    std::uint8_t lun = 0;
};

// Command blocks are 6 to 12 bytes; the reader's are always sent as 12.
constexpr std::uint8_t kMinCommandLength = 6;
constexpr std::uint8_t kMaxCommandLength = 12;

class ScsiPort {
  public:
    virtual ~ScsiPort() = default;

    // "ASPI", "SCSI pass-through", "SG_IO", "simulator".
    virtual const char* Name() const = 0;
    virtual PortShape Shape() const = 0;

    // The places the port can reach, and a name for each ("0:3", "E:", "/dev/sg2").
    virtual std::uint32_t PlaceCount() const = 0;
    virtual std::string PlaceName(std::uint32_t place) const = 0;

    // Drives: opens the place so that commands can go to it; false when it cannot be opened.
    // Close gives it up again. Ports of the ReaderLuns shape need no opening.
    virtual bool Open(std::uint32_t place) = 0;
    virtual void Close(std::uint32_t place) = 0;

    // Executes one command block of `cdbLength` bytes. `buffer` holds `length` bytes for the
    // data phase (nullptr when there is none).
    virtual CommandOutcome Execute(const PortAddress& address, const std::uint8_t* cdb,
                                   std::uint8_t cdbLength, DataPhase phase, void* buffer,
                                   std::uint32_t length, std::uint16_t timeoutSeconds) = 0;

    // True when a CHECK CONDITION comes back with its sense bytes (the system fetched them, as
    // Linux does); the device then has none left for a REQUEST SENSE.
    virtual bool SenseComesWithStatus() const { return false; }

    // Told by discovery of every drive that identifies itself as the reader's (the pass-through
    // port tries its direct request on the first one).
    virtual void ReaderFound(std::uint32_t /*place*/) {}

    // Whether the system resets a device whose command timed out, to end the command (Linux's
    // SCSI error handling does): the device then reports the reset, and what the command did is
    // not known.
    virtual bool ResetsAfterTimeOut() const { return false; }

    // The largest data phase one command may carry to or from the place (the system's limit for
    // the device; at most kMaxTransfer).
    virtual std::uint32_t MaxTransfer(std::uint32_t /*place*/) const { return kMaxTransfer; }

    // Waits up to `milliseconds` for the system to let the device at the place go, and says
    // what it knows then: Gone as soon as it is gone. A port that cannot tell returns Unknown
    // at once, without waiting.
    virtual PlacePresence AwaitPresence(std::uint32_t /*place*/, std::uint32_t /*milliseconds*/) {
        return PlacePresence::Unknown;
    }
};
