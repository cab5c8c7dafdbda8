#pragma once
#include <cstdint>

#include "reader/media_type.h"
#include "reader/scsi_port.h"
#include "reader/sense.h"

class Reader;

constexpr std::uint32_t kPageWithSpareSize = 528;  // 512 data bytes, then 16 spare bytes
constexpr std::uint32_t kSectorSize = 512;
constexpr std::uint8_t kRequestSenseLength = 18;

// One unit of a reader as a caller speaks to it: the command set spoken to the reader. Each
// operation builds one 12-byte command block, sends it to the unit through the reader's port and
// returns the whole outcome of that command: its status, the sense bytes that came with it where
// the system fetched them, the data bytes moved. A key that is not in the reader's unit table
// gets nothing sent and a Refused outcome. No operation retries.
//
// A caller that runs several commands as one step (a block probe, the CIS pages, the volume)
// judges the step afterwards by what the unit saw of its own commands: the last outcome, how many
// in a row went unanswered, how many met an error of the host's side or a reset of the device.
// That memory belongs to this object; another ReaderUnit of the same key starts with none.
//
// Page numbers are absolute within the selected bank (block * pagesPerBlock for the first page
// of a block). Transfers stay at or below 65536 bytes.
// What the device of a unit came to after a command of it ended with a host-side error.
enum class LinkAfterHostError {
    There,  // it answers with a status: the error was the way's, not the device's
    Gone,   // the system let it go, or says there is no device
    Quiet,  // neither within a second or so: errors go on, or it stopped answering
};

class ReaderUnit {
  public:
    ReaderUnit(Reader& reader, MediaType key) : reader_(reader), key_(key) {}

    Reader& Owner() const { return reader_; }
    MediaType Key() const { return key_; }

    // Standard commands.
    CommandOutcome TestUnitReady();
    CommandOutcome StopUnit();
    // out: 8 bytes as sent, last logical block address (BE32) then block length (BE32).
    CommandOutcome ReadCapacity(std::uint8_t* out);
    // Copies the first min(len, 18) sense bytes to buf on success; nothing on failure.
    CommandOutcome RequestSense(std::uint8_t* buf, std::uint8_t len);
    // READ(10) / WRITE(10) of count 512-byte sectors.
    CommandOutcome ReadSectors(std::uint32_t lba, std::uint16_t count, std::uint8_t* buf);
    CommandOutcome WriteSectors(std::uint32_t lba, std::uint16_t count, const std::uint8_t* buf);

    // Raw flash commands of the controller's own flash disk.
    CommandOutcome EraseBlock(std::uint32_t block, std::uint8_t pagesPerBlock);
    CommandOutcome MarkBlockBad(std::uint32_t block, std::uint8_t pagesPerBlock);
    // buf: pageCount * spareBytes bytes, the spare areas of consecutive pages.
    CommandOutcome ReadRedundantArea(std::uint32_t page, std::uint8_t pageCount,
                                     std::uint8_t spareBytes, std::uint8_t* buf);
    // buf: pageCount * bytesPerPage bytes, the data areas of consecutive pages.
    CommandOutcome ReadBlockData(std::uint32_t page, std::uint8_t pageCount,
                                 std::uint8_t pagesPerBlock, std::uint16_t bytesPerPage,
                                 std::uint8_t* buf);
    // buf: 528 bytes, one page and its spare area.
    CommandOutcome ReadPageWithSpare(std::uint32_t page, std::uint8_t pagesPerBlock,
                                     std::uint8_t* buf);
    CommandOutcome WritePageWithSpare(std::uint32_t page, std::uint8_t pagesPerBlock,
                                      const std::uint8_t* buf);
    // The reader writes `pattern` into pageCount pages from `page` on; nothing is transferred.
    CommandOutcome FillBlockPattern(std::uint32_t page, std::uint8_t pageCount,
                                    std::uint8_t pattern);
    // One byte each: the flash device code of the selected bank, the number of banks. The
    // buffer has room for two (a one-byte read may move two).
    CommandOutcome ReadDeviceCode(std::uint8_t* out);
    CommandOutcome GetBankCount(std::uint8_t* out);
    CommandOutcome SelectBank(std::uint8_t bank);
    CommandOutcome SendVendorC4();
    CommandOutcome SendVendorFE(std::uint8_t value);
    // out: the page number of the flash disk's CIS page; 0xFFFFFFFF means there is none.
    CommandOutcome ReadCisPageNumber(std::uint32_t* out);

    // The unit's sense data, classified: what came back with the last command where the system
    // fetched it then (it is handed over once), else the reply of a REQUEST SENSE, which also
    // clears it on the device.
    SenseStatus GetSenseStatus();

    // What the last command of this object came to (Refused before the first).
    const CommandOutcome& LastOutcome() const { return last_; }
    // Commands of this object in a row, up to the last one, that got no answer at all.
    std::uint32_t SilentInARow() const { return silentInARow_; }
    // Commands of this object that ended with an error of the host's side (HostError), and
    // that the device answered first with a reset notice.
    std::uint64_t HostErrors() const { return hostErrors_; }
    std::uint64_t Resets() const { return resets_; }

    // What the way to the unit's device allows and does, as the system says.
    // The most bytes one command may carry (kMaxTransfer for a key not in the table).
    std::uint32_t MaxTransfer() const;
    // Whether the system resets the device after a command of it timed out
    // (ScsiPort::ResetsAfterTimeOut).
    bool ResetsAfterTimeOut() const;
    // After a host-side error: asks the system, and the device with TEST UNIT READY, until one of
    // them says whether the device is still there (Gone for a key that is not in the table).
    LinkAfterHostError SettleAfterHostError();

  private:
    CommandOutcome Send(const std::uint8_t* cdb, DataPhase phase, void* buffer,
                        std::uint32_t length, std::uint16_t timeoutSeconds);

    Reader& reader_;
    MediaType key_;
    CommandOutcome last_;
    std::uint32_t silentInARow_ = 0;
    std::uint64_t hostErrors_ = 0;
    std::uint64_t resets_ = 0;
};
