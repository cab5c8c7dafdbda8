#pragma once
#include <cstdint>
#include <string>

#include "format/page_image.h"

// A copy of a stick's old CIS page (and the vendor page behind it) kept in a file before a
// format erases them, so that a run that is stopped, killed or cut off by a power failure can
// still be undone. The file is small and says in plain text what it holds:
//
//   BREVANT CIS BACKUP 1
//   device /dev/sg2
//   identity GENERIC USB FLASH DISK 1.00
//   saved 2026-12-08T09:30:00+0000
//   bank0 device-code=0x76 pages-per-block=32
//   cis-page 0
//   vendor-page 1
//   crc32 0x1b2c3d4e
//   data 1056
//
// followed by the data: the 528-byte CIS page image, then the vendor page image when there is
// one. The CRC-32 covers the data.

struct CisBackup {
    std::string device;    // the node the pages were read from
    std::string identity;  // vendor, product and revision, for the user
    std::string saved;     // when, ISO 8601
    std::uint8_t deviceCode = 0;
    std::uint8_t pagesPerBlock = 0;
    std::int32_t cisPage = -1;
    std::int32_t vendorPage = -1;  // -1: none was saved
    PageImage cis{};
    PageImage vendor{};
};

// Writes the backup so that it is whole on the disk before this returns (a temporary file
// synced and renamed into place); an existing file is never overwritten. False with a reason.
// (Linux only: the command line keeps the backups.)
bool WriteCisBackup(const std::string& path, const CisBackup& backup, std::string* error);

// Reads and checks a backup. False with a reason for a file that is not one, is damaged or
// holds pages that cannot be a stick's (a page past what its device code allows).
bool ReadCisBackup(const std::string& path, CisBackup* backup, std::string* error);

// The backup file's text, for the writer and the tests.
std::string EncodeCisBackup(const CisBackup& backup);
bool DecodeCisBackup(const std::string& bytes, CisBackup* backup, std::string* error);

// CRC-32 (the IEEE polynomial, as zip and PNG use it).
std::uint32_t Crc32(const std::uint8_t* data, std::size_t length);
