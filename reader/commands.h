#pragma once
#include <cstdint>

#include "reader/media_type.h"

// The command set spoken to the reader. Each operation builds one 12-byte command block and
// sends it to the unit named by its key through the active back-end. All return 1 on success and
// 0 on failure (time-out, SCSI status other than GOOD, driver error, unknown unit); a caller that
// needs the reason asks GetSenseStatus (reader/sense.h). No operation retries.
//
// Page numbers are absolute within the selected bank (block * pagesPerBlock for the first page
// of a block). Transfers stay at or below 65536 bytes.

constexpr std::uint32_t kPageWithSpareSize = 528;  // 512 data bytes, then 16 spare bytes
constexpr std::uint32_t kSectorSize = 512;
constexpr std::uint8_t kRequestSenseLength = 18;

// Standard commands.
int TestUnitReady(MediaType unit);
int StopUnit(MediaType unit);
// out: 8 bytes as sent, last logical block address (BE32) then block length (BE32).
int ReadCapacity(MediaType unit, std::uint8_t* out);
// Copies the first min(len, 18) sense bytes to buf on success; nothing on failure.
int RequestSense(MediaType unit, std::uint8_t* buf, std::uint8_t len);
// READ(10) / WRITE(10) of count 512-byte sectors.
int ReadSectors(MediaType unit, std::uint32_t lba, std::uint16_t count, std::uint8_t* buf);
int WriteSectors(MediaType unit, std::uint32_t lba, std::uint16_t count, const std::uint8_t* buf);

// Raw flash commands of the controller's own flash disk.
int EraseBlock(MediaType unit, std::uint32_t block, std::uint8_t pagesPerBlock);
int MarkBlockBad(MediaType unit, std::uint32_t block, std::uint8_t pagesPerBlock);
// buf: pageCount * spareBytes bytes, the spare areas of consecutive pages.
int ReadRedundantArea(MediaType unit, std::uint32_t page, std::uint8_t pageCount,
                      std::uint8_t spareBytes, std::uint8_t* buf);
// buf: pageCount * bytesPerPage bytes, the data areas of consecutive pages.
int ReadBlockData(MediaType unit, std::uint32_t page, std::uint8_t pageCount,
                  std::uint8_t pagesPerBlock, std::uint16_t bytesPerPage, std::uint8_t* buf);
// buf: 528 bytes, one page and its spare area.
int ReadPageWithSpare(MediaType unit, std::uint32_t page, std::uint8_t pagesPerBlock,
                      std::uint8_t* buf);
int WritePageWithSpare(MediaType unit, std::uint32_t page, std::uint8_t pagesPerBlock,
                       const std::uint8_t* buf);
// The reader writes `pattern` into pageCount pages from `page` on; nothing is transferred.
int FillBlockPattern(MediaType unit, std::uint32_t page, std::uint8_t pageCount,
                     std::uint8_t pattern);
// One byte each: the flash device code of the selected bank, the number of banks.
int ReadDeviceCode(MediaType unit, std::uint8_t* out);
int GetBankCount(MediaType unit, std::uint8_t* out);
int SelectBank(MediaType unit, std::uint8_t bank);
int SendVendorC4(MediaType unit);
int SendVendorFE(MediaType unit, std::uint8_t value);
// out: the page number of the flash disk's CIS page; 0xFFFFFFFF means there is none.
int ReadCisPageNumber(MediaType unit, std::uint32_t* out);
