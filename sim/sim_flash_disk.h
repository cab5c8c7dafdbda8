#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "sim/disk/sector_store.h"
#include "sim/flash/block_faults.h"
#include "sim/flash/flash_geometry.h"
#include "sim/scsi_codes.h"
#include "sim/sim_command.h"

// The controller's own flash disk as the simulator models it: one to many NAND banks behind the
// vendor commands, and the logical disk (the FAT volume's sectors) behind READ(10)/WRITE(10).
// It is put together from three parts, each in a folder of its own: the NAND with its faults
// (flash/), the controller's firmware that runs the commands (firmware/), and the logical
// disk's sectors with the exports (disk/). This is the face the machine, the tests and the
// programs see.

namespace sim {

class SimFlashDisk {
  public:
    SimFlashDisk();
    ~SimFlashDisk();
    SimFlashDisk(const SimFlashDisk&) = delete;
    SimFlashDisk& operator=(const SimFlashDisk&) = delete;

    // --- Banks -------------------------------------------------------------------------------
    // Appends a bank with a device code; all its blocks start erased (0xFF).
    void AddBank(std::uint8_t deviceCode);
    std::size_t BankCount() const;
    std::uint8_t DeviceCode(std::size_t bank) const;
    const BankGeometry& Geometry(std::size_t bank) const;
    // The bank count C2h reports (the real count unless overridden, e.g. 0 or 9).
    void OverrideReportedBankCount(std::uint8_t count);
    std::uint8_t ReportedBankCount() const;
    std::uint8_t SelectedBank() const;  // target of the raw-flash commands (FBh)

    // --- Raw pages, for setting up and inspecting ---------------------------------------------
    // The page as the flash reads it (stuck bits included): 512 data bytes then 16 spare bytes.
    PageBytes ReadPage(std::size_t bank, std::uint32_t page) const;
    // Stores the image exactly (no AND, no faults applied): for test set-up.
    void ProgramPageRaw(std::size_t bank, std::uint32_t page, const std::uint8_t* image528);
    // Sets every byte of the block (data and spare) to value.
    void FillBlockRaw(std::size_t bank, std::uint32_t block, std::uint8_t value);
    // True when the block's first page has a spare byte 0..5 other than 0xFF.
    bool IsMarkedBad(std::size_t bank, std::uint32_t block) const;

    // --- Faults per block ---------------------------------------------------------------------
    // A factory-bad block: its first page carries 0x00 in spare bytes 0..5.
    void SetFactoryBad(std::size_t bank, std::uint32_t block);
    // Erasing the block fails (CHECK CONDITION, MEDIUM ERROR 3/51h) and leaves it unchanged.
    void SetEraseFails(std::size_t bank, std::uint32_t block, bool fails = true);
    // A block that wears out: its first `erases` erases succeed, every later one fails as above
    // (0: from the first on). The erases count from the disk's start.
    void SetEraseFailsAfter(std::size_t bank, std::uint32_t block, std::uint32_t erases);
    // A block that goes bad after `programs` page programs from now on: a later page program
    // (E9h one page, C1h each page it covers, in order) fails with MEDIUM ERROR 3/0Ch and leaves
    // the page as it was; a fill stops at the first refused page. Erasing does not heal it;
    // MARK BLOCK BAD still marks it.
    void SetProgramFailsAfter(std::size_t bank, std::uint32_t block, std::uint32_t programs);
    // Read disturb with a budget: each read command (E8h, FAh, F3h) that reads the block returns
    // one bit of what it read from it flipped, until `budget` flips were handed out; the cells
    // keep their contents. Where the flips land follows from `seed`, the same every run.
    void SetBitFlips(std::size_t bank, std::uint32_t block, std::uint32_t budget,
                     std::uint32_t seed = 1);
    // Erase commands the block received (refused ones included); flips it has still to give.
    std::uint32_t EraseCount(std::size_t bank, std::uint32_t block) const;
    std::uint32_t BitFlipsLeft(std::size_t bank, std::uint32_t block) const;
    // Some bits of the block read 0 whatever is written (pattern tests and erase checks fail).
    void SetStuckBits(std::size_t bank, std::uint32_t block, StuckBits bits = StuckBits());
    // F1h reports success but the block's spare bytes stay as they were.
    void SetMarkDoesNotStick(std::size_t bank, std::uint32_t block, bool doesNotStick = true);

    // --- Disk-wide conditions -----------------------------------------------------------------
    // Writes, fills, marks and erases fail with DATA PROTECT 7/27h.
    void SetWriteProtected(bool on);
    bool WriteProtected() const;
    // Every command but INQUIRY and REQUEST SENSE fails with NOT READY 2/3Ah.
    void SetNotReady(bool on);
    bool NotReady() const;
    // The next command (but INQUIRY and REQUEST SENSE) fails with UNIT ATTENTION 6/28h.
    void RaiseUnitAttention();
    bool UnitAttentionPending() const;
    // After START STOP UNIT (stop) the disk answers NOT READY 2/04h (an initializing command
    // required) until a START STOP UNIT (start), a reset or a re-plug.
    bool Stopped() const;
    // A re-plug: the disk comes back up and reports a unit attention (medium changed).
    void PowerCycle();
    // The host reset the controller (a USB reset): it starts afresh as after power on, on bank
    // 0, and reports a unit attention (power on, reset: 6/29h). The flash keeps what it holds.
    void Reset();

    // --- CIS page and logical disk ------------------------------------------------------------
    // What C3h reports: the first page of a block of bank 0 that starts with "USBC" and carries
    // no bad-block mark; kNoPage when there is none.
    std::uint32_t CisPageNumber() const;
    // The BankSectorTotals value of the last bank from that CIS page; 0 when there is none.
    std::uint32_t CisSectorTotal() const;
    // The logical disk's size in 512-byte sectors (0: not formatted; READ CAPACITY fails).
    std::uint32_t SectorCount() const;
    // Resizes the logical disk; sectors below the new size keep their contents.
    void SetSectorCount(std::uint32_t sectors);
    // Sector access without commands; false past the end.
    bool ReadSector(std::uint32_t lba, std::uint8_t* out512) const;
    bool WriteSector(std::uint32_t lba, const std::uint8_t* in512);
    // Writes the logical disk as a plain image file (SectorCount() × 512 bytes).
    bool ExportImage(const std::string& path, std::string* error = nullptr) const;
    // The same into a stream the caller opened (positioned at its start, able to seek).
    bool ExportImage(std::ostream& out, std::string* error = nullptr) const;
    // Writes count raw 528-byte page images of a bank, from firstPage on, one after the other.
    bool ExportBankPages(std::size_t bank, std::uint32_t firstPage, std::uint32_t count,
                         const std::string& path, std::string* error = nullptr) const;
    bool ExportBankPages(std::size_t bank, std::uint32_t firstPage, std::uint32_t count,
                         std::ostream& out, std::string* error = nullptr) const;

    // --- Commands -----------------------------------------------------------------------------
    // Runs one command block; the data phase is `length` bytes of `buffer` in `direction`.
    Outcome Execute(const std::uint8_t cdb[12], Direction direction, std::uint8_t* buffer,
                    std::uint32_t length);
    // The sense data pending for REQUEST SENSE (sense key 0 after a good command).
    SenseBytes PendingSense() const;
    SenseCode PendingSenseCode() const;
    // How many commands with this opcode the disk has run (any outcome).
    std::uint64_t CommandCount(std::uint8_t opcode) const;
    // The value of the last FEh command, or -1.
    int LastVendorFEValue() const;

    // Bytes held for blocks that keep their pages and for stored logical sectors.
    std::size_t StoredBytes() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sim
