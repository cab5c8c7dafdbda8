// Arbitrary bytes as a CIS backup file: the decoder refuses them with a short reason of plain
// text or accepts pages a stick of that kind can have, and what it accepts is written again as
// a file that decodes to the same backup.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "format/cis_backup.h"
#include "format/flash_geometry.h"

namespace {

void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "cis_backup_fuzz: %s\n", what);
    std::abort();
}

// The header's texts as a file carries them: one line each.
std::string OneLine(const std::string& text) {
    std::string line;
    for (char c : text) line += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    return line;
}

// The same backup, whatever version of the file it came from.
bool Same(const CisBackup& a, const CisBackup& b) {
    return a.device == b.device && a.usbSerial == b.usbSerial && a.usbPort == b.usbPort &&
           a.inquiryVendor == b.inquiryVendor && a.inquiryProduct == b.inquiryProduct &&
           a.inquiryRevision == b.inquiryRevision && a.identity == b.identity &&
           a.saved == b.saved && a.banks == b.banks && a.cisPage == b.cisPage &&
           a.vendorPage == b.vendorPage && a.cis == b.cis &&
           (a.vendorPage < 0 || a.vendor == b.vendor);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    CisBackup backup;
    std::string error;
    if (!DecodeCisBackup(bytes, &backup, &error)) {
        Require(!error.empty(), "a refusal without a reason");
        Require(error.size() <= 120, "a reason longer than a line");
        for (char c : error) {
            Require(c >= 0x20 && c <= 0x7E, "a reason that is not plain printable text");
        }
        return 0;
    }
    Require(error.empty(), "an accepted backup with a reason");
    Require(!backup.banks.empty() && backup.banks.size() <= kMaxBanks, "a stick of no bank");
    for (const BackupBank& bank : backup.banks) {
        const FlashGeometry* geometry = LookupFlashGeometry(bank.deviceCode);
        Require(geometry != nullptr, "a backup of a device code the table does not know");
        Require(bank.pagesPerBlock == geometry->pagesPerBlock, "pages per block not the part's");
        Require(bank.blocks == geometry->blocksPerBank, "blocks not the part's");
    }
    const std::uint32_t pages = std::uint32_t{backup.banks[0].blocks} * backup.PagesPerBlock();
    Require(backup.cisPage >= 0 && static_cast<std::uint32_t>(backup.cisPage) < pages,
            "a CIS page outside bank 0");
    Require(backup.cisPage % backup.PagesPerBlock() == 0, "a CIS page that does not start a block");
    Require(backup.vendorPage == -1 || backup.vendorPage == backup.cisPage + 1,
            "a vendor page that is not right after the CIS page");

    // Written again, it reads back as it was (the header texts as one line each).
    CisBackup expected = backup;
    for (std::string* text : {&expected.device, &expected.usbSerial, &expected.usbPort,
                              &expected.inquiryVendor, &expected.inquiryProduct,
                              &expected.inquiryRevision, &expected.identity, &expected.saved}) {
        *text = OneLine(*text);
    }
    CisBackup again;
    std::string reason;
    Require(DecodeCisBackup(EncodeCisBackup(backup), &again, &reason),
            "a backup written again is refused");
    Require(Same(again, expected), "a backup written again reads back otherwise");
    return 0;
}
