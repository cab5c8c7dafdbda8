#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "format/page_image.h"

// A copy of a stick's old CIS page (and the vendor page behind it) kept in a file before a
// format erases them, so that a run that is stopped, killed or cut off by a power failure can
// still be undone, on that stick and no other. The file is small and says in plain text what it
// holds and which stick it came from:
//
//   BREVANT CIS BACKUP 2
//   device /dev/sg2
//   usb-serial 0123456789AB
//   usb-port 1-1.2
//   inquiry-vendor GENERIC
//   inquiry-product USB FLASH DISK
//   inquiry-revision 1.00
//   saved 2026-12-08T09:30:00+0000
//   bank0 device-code=0x76 pages-per-block=32 blocks=4096
//   bank1 device-code=0x76 pages-per-block=32 blocks=4096
//   cis-page 0
//   vendor-page 1
//   crc32 0x1b2c3d4e
//   data 1056
//
// followed by the data: the 528-byte CIS page image, then the vendor page image when there is
// one. The CRC-32 covers the data. The USB lines are left out when the system did not know them.
//
// Files of version 1 (an "identity" line with vendor, product and revision in one, and bank 0
// alone, without its block count) are still read: they tell the kind of flash, not the stick.

constexpr int kCisBackupVersion = 2;

// One flash bank of the stick as it was when its pages were kept.
struct BackupBank {
    std::uint8_t deviceCode = 0;
    std::uint8_t pagesPerBlock = 0;
    std::uint16_t blocks = 0;
    bool operator==(const BackupBank& other) const {
        return deviceCode == other.deviceCode && pagesPerBlock == other.pagesPerBlock &&
               blocks == other.blocks;
    }
};

struct CisBackup {
    int version = kCisBackupVersion;  // of the file read
    std::string device;               // the node the pages were read from
    std::string usbSerial;            // the USB serial number, when known
    std::string usbPort;              // the USB port it was plugged into, when known
    std::string inquiryVendor;        // the INQUIRY reply's vendor, product and revision
    std::string inquiryProduct;
    std::string inquiryRevision;
    std::string identity;  // version 1: vendor, product and revision in one line, for the user
    std::string saved;     // when, ISO 8601
    std::vector<BackupBank> banks;  // every bank (version 1: bank 0 only); the pages are bank 0's
    std::int32_t cisPage = -1;
    std::int32_t vendorPage = -1;  // -1: none was saved
    PageImage cis{};
    PageImage vendor{};

    std::uint8_t DeviceCode() const { return banks.empty() ? 0 : banks[0].deviceCode; }
    std::uint8_t PagesPerBlock() const { return banks.empty() ? 0 : banks[0].pagesPerBlock; }
};

// Reads and checks a backup. False with a reason for a file that is not one (or not a plain
// file), is damaged or holds pages that cannot be a stick's (a page past what its device code
// allows).
bool ReadCisBackup(const std::string& path, CisBackup* backup, std::string* error);

// The backup file's text (always of the current version), for the writer and the tests.
std::string EncodeCisBackup(const CisBackup& backup);
bool DecodeCisBackup(const std::string& bytes, CisBackup* backup, std::string* error);

// CRC-32 (the IEEE polynomial, as zip and PNG use it).
std::uint32_t Crc32(const std::uint8_t* data, std::size_t length);
