#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_bus.h"
#include "sim/sim_flash_disk.h"

// The SCSI targets of the simulated machine: readers of the controller family, whose logical
// units are card slots or the controller's own flash disk, and foreign drives (a system disk, a
// DVD drive) that answer INQUIRY without the controller's signature.

namespace sim {

constexpr std::size_t kInquiryBytes = 56;

// One logical unit of a reader, or the single unit of a foreign drive.
class SimUnit {
  public:
    enum class Kind {
        FlashDisk,  // medium code "DS": the controller's own flash disk
        CardSlot,   // any other medium code ("CF", "SM", "MM" or one the program does not know)
        Foreign,    // a drive of another maker: no signature in its INQUIRY reply
    };

    // mediumCode: two characters for reader units; ignored for foreign units.
    SimUnit(Kind kind, const std::string& mediumCode, const std::string& productName);
    ~SimUnit();
    SimUnit(const SimUnit&) = delete;
    SimUnit& operator=(const SimUnit&) = delete;

    Kind GetKind() const;
    const std::string& MediumCode() const;
    // The drive letter the unit is reached through by pass-through ('C'..'Z'), or 0.
    char DriveLetter() const;
    void SetDriveLetter(char letter);
    // The name the Linux-side port gives the unit's node ("sim:" and this), or empty: then it
    // is named by its drive letter, else by its ASPI address (SimPort).
    const std::string& NodeName() const;
    void SetNodeName(const std::string& name);

    // The model behind a "DS" unit; nullptr for card slots and foreign drives.
    SimFlashDisk* FlashDisk();
    const SimFlashDisk* FlashDisk() const;

    // Card slots: whether a card is inserted (none: NOT READY 2/3Ah). Default: none.
    void SetCardPresent(bool present);

    // The 56-byte INQUIRY reply: standard data in bytes 0..35, then "QZ" and the medium code for
    // reader units (zeros for foreign drives).
    std::array<std::uint8_t, kInquiryBytes> InquiryData() const;

    Outcome Execute(const std::uint8_t cdb[12], Direction direction, std::uint8_t* buffer,
                    std::uint32_t length);
    // Sense data pending for REQUEST SENSE.
    SenseBytes PendingSense() const;
    // Commands other than INQUIRY this unit received (what a foreign drive must never get).
    std::uint64_t NonInquiryCommands() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// One SCSI target: a reader (one to three units, LUN = position) or a foreign drive (one unit).
class SimDevice {
  public:
    enum class Kind { Reader, Foreign };

    SimDevice(Kind kind, std::uint8_t adapter, std::uint8_t target, std::string name);
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    Kind GetKind() const;
    bool IsReader() const { return GetKind() == Kind::Reader; }
    std::uint8_t Adapter() const;
    std::uint8_t Target() const;
    // "reader 0", "foreign C", ...: the trace names a unit "<name> lun <n>" (readers) or "<name>".
    const std::string& Name() const;
    // The USB serial number the stick announces (a reader's `serial=`), or empty: none. What the
    // Linux side reads from sysfs for a real stick, and what the USB face of the simulator
    // presents as its serial number string.
    const std::string& Serial() const { return serial_; }
    void SetSerial(const std::string& serial) { serial_ = serial; }

    // Readers: appends a unit at LUN = UnitCount(). "DS" makes a flash disk, anything else a
    // card slot. A foreign drive gets one unit (medium code ignored). productName goes into the
    // INQUIRY reply (a default when empty).
    SimUnit& AddUnit(const std::string& mediumCode, const std::string& productName = "");
    std::size_t UnitCount() const;
    SimUnit* Unit(std::size_t lun);
    const SimUnit* Unit(std::size_t lun) const;

    // A LUN beyond the units answers NoDevice.
    Outcome Execute(std::uint8_t lun, const std::uint8_t cdb[12], Direction direction,
                    std::uint8_t* buffer, std::uint32_t length);

  private:
    Kind kind_;
    std::uint8_t adapter_;
    std::uint8_t target_;
    std::string name_;
    std::string serial_;
    std::vector<std::unique_ptr<SimUnit>> units_;
};

}  // namespace sim
