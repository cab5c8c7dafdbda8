#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "format/media_decode.h"
#include "format/run_record.h"
#include "reader/media_type.h"

// A look at a stick that changes nothing: every block of every bank judged by its first page
// (marked bad, holding data, or free), the CIS page the reader names decoded with the vendor
// page behind it, the logical size and the volume's boot sector. Only reading commands are
// sent: TEST UNIT READY, REQUEST SENSE, READ CAPACITY, READ(10) and the flash reads (bank
// count, select bank, device code, CIS page number, page with spare).

struct HealthScan {
    bool ready = false;
    bool capacityRead = false;
    std::uint32_t logicalSectors = 0;  // READ CAPACITY's last block address + 1
    std::uint8_t bankCount = 0;        // as the stick reports it
    bool banksKnown = false;           // every bank's device code is one the table has
    // Per bank: device code, geometry, bad blocks ("marked"), blocks holding data, and the data
    // blocks its CIS page's groups give it.
    std::vector<BankRecord> banks;
    std::int32_t cisPage = -1;
    bool cisDecoded = false;
    DecodedCisPage cis;
    bool cisTotalsAgree = false;
    bool vendorPage = false;
    bool volumeFound = false;
    DecodedBootSector volume;
    bool stopped = false;  // the caller asked to stop before every block was read
};

// What a look tells of its progress after every block it reads: blocks done, blocks in all, and
// the bad blocks found so far. Answering false stops the look there.
using LookProgress = std::function<bool(std::uint32_t, std::uint32_t, std::uint32_t)>;

// Looks at the unit, telling `progress` (which may be empty) of every block read.
HealthScan ScanHealth(MediaType unit, const LookProgress& progress);

// The same look without reading the blocks (no bank counts as scanned): the banks' geometry, the
// logical size, the CIS page and the boot sector, in a few dozen commands. Enough to tell a
// stick that announces more than its flash holds before anything is erased.
HealthScan LookWithoutBlocks(MediaType unit);
