#pragma once
#include <array>
#include <cstdint>

#include "sim/disk/sector_store.h"
#include "sim/flash/flash_array.h"
#include "sim/scsi_codes.h"
#include "sim/sim_command.h"

// The controller's firmware as the simulator plays it: it decodes each command block, checks
// its fields and data phase, acts on the flash and the logical disk, and keeps the sense data
// and the conditions of the disk (stopped, not ready, write-protected, a unit attention).
//
// The commands are written in three files by kind: the standard SCSI commands
// (controller.cpp), the controller's vendor commands with its CIS behaviour
// (vendor_commands.cpp), and the vendor commands that reach the raw flash of the selected bank
// (raw_flash_commands.cpp).

namespace sim {

class Controller {
  public:
    Controller(FlashArray& flash, SectorStore& sectors) : flash_(flash), sectors_(sectors) {}

    // Runs one command block; the data phase is `length` bytes of `buffer` in `direction`.
    Outcome Execute(const std::uint8_t* cdb, Direction direction, std::uint8_t* buffer,
                    std::uint32_t length);
    // The sense of the last command (key 0 after a good one), for REQUEST SENSE.
    const SenseCode& Sense() const { return sense_; }
    // How many commands with this opcode the controller ran (any outcome).
    std::uint64_t CommandCount(std::uint8_t opcode) const { return commandCounts_[opcode]; }
    // The value of the last FEh command, or -1.
    int LastVendorFEValue() const { return lastFeValue_; }

    // The bank count C2h reports: the real count unless overridden (e.g. 0 or 9).
    void OverrideReportedBankCount(std::uint8_t count);
    std::uint8_t ReportedBankCount() const;
    std::uint8_t SelectedBank() const { return selectedBank_; }  // target of the raw commands

    // Writes, fills, marks and erases fail with DATA PROTECT 7/27h.
    void SetWriteProtected(bool on) { writeProtected_ = on; }
    bool WriteProtected() const { return writeProtected_; }
    // Every command but INQUIRY and REQUEST SENSE fails with NOT READY 2/3Ah.
    void SetNotReady(bool on) { notReady_ = on; }
    bool NotReady() const { return notReady_; }
    // The next command (but INQUIRY and REQUEST SENSE) fails with UNIT ATTENTION 6/28h.
    void RaiseUnitAttention() {
        unitAttention_ = true;
        attentionCode_ = kAscMediumChanged;
    }
    bool UnitAttentionPending() const { return unitAttention_; }
    // After START STOP UNIT (stop) the disk answers NOT READY 2/04h (an initializing command
    // required) until a START STOP UNIT (start), a reset or a re-plug.
    bool Stopped() const { return stopped_; }
    // A re-plug: the disk comes back up and reports a unit attention (medium changed).
    void PowerCycle();
    // The host reset the controller (a USB reset): it starts afresh as after power on, on bank
    // 0, and reports a unit attention (power on, reset: 6/29h). The flash keeps what it holds.
    void Reset();

  private:
    // The data phase the host set up must be the one the command needs.
    static bool PhaseIs(Direction direction, std::uint32_t length, Direction wanted,
                        std::uint32_t wantedLength);
    Outcome Check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq = 0);
    Outcome Good();
    Outcome RequestSense(const std::uint8_t* cdb, Direction direction, std::uint8_t* buffer,
                         std::uint32_t length);
    Outcome Standard(const std::uint8_t* cdb, Direction direction, std::uint8_t* buffer,
                     std::uint32_t length);
    Outcome ReadWrite10(const std::uint8_t* cdb, Direction direction, std::uint8_t* buffer,
                        std::uint32_t length);
    Outcome Vendor(const std::uint8_t* cdb, Direction direction, std::uint8_t* buffer,
                   std::uint32_t length);
    Outcome ReloadFromCis();
    Outcome RawFlash(const std::uint8_t* cdb, Direction direction, std::uint8_t* buffer,
                     std::uint32_t length);

    FlashArray& flash_;
    SectorStore& sectors_;

    bool reportedBankCountOverridden_ = false;
    std::uint8_t reportedBankCount_ = 0;
    std::uint8_t selectedBank_ = 0;

    bool writeProtected_ = false;
    bool notReady_ = false;
    bool unitAttention_ = false;
    std::uint8_t attentionCode_ = kAscMediumChanged;  // what the pending unit attention reports
    bool stopped_ = false;
    SenseCode sense_;

    std::array<std::uint64_t, 256> commandCounts_{};
    int lastFeValue_ = -1;
};

}  // namespace sim
