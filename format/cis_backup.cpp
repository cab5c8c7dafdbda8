#include "format/cis_backup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "core/plain_file.h"
#include "format/flash_geometry.h"

namespace {

constexpr char kMagic[] = "BREVANT CIS BACKUP ";
// A backup is two pages and a few lines; anything much larger is not one.
constexpr std::size_t kMaxFileBytes = 16 * 1024;

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*x", digits, static_cast<unsigned>(value));
    return text;
}

// A header value as one line: line breaks and other control bytes would end it early.
std::string OneLine(const std::string& text) {
    std::string line;
    for (char c : text) line += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    return line;
}

// A piece of the file quoted in a reason: plain printable text, every other byte shown as '?'
// (a reason reaches a terminal, where control bytes would act).
std::string Printable(const std::string& text) {
    std::string shown;
    for (char c : text) shown += c >= 0x20 && c <= 0x7E ? c : '?';
    return shown;
}

bool ParseNumber(const std::string& text, long long low, long long high, long long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || end == nullptr || *end != '\0' || v < low || v > high) return false;
    *value = v;
    return true;
}

// "key=value" among the words of a line.
bool Field(const std::string& line, const std::string& key, std::string* value) {
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
        if (word.compare(0, key.size() + 1, key + "=") == 0) {
            *value = word.substr(key.size() + 1);
            return true;
        }
    }
    return false;
}

}  // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t length) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string EncodeCisBackup(const CisBackup& backup) {
    std::string data(backup.cis.begin(), backup.cis.end());
    if (backup.vendorPage >= 0) data.append(backup.vendor.begin(), backup.vendor.end());
    const std::uint32_t crc =
        Crc32(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    std::string text = std::string(kMagic) + std::to_string(kCisBackupVersion) + "\n";
    auto line = [&text](const char* key, const std::string& value) {
        text += std::string(key) + " " + OneLine(value) + "\n";
    };
    line("device", backup.device);
    if (!backup.usbSerial.empty()) line("usb-serial", backup.usbSerial);
    if (!backup.usbPort.empty()) line("usb-port", backup.usbPort);
    line("inquiry-vendor", backup.inquiryVendor);
    line("inquiry-product", backup.inquiryProduct);
    line("inquiry-revision", backup.inquiryRevision);
    if (!backup.identity.empty()) line("identity", backup.identity);
    line("saved", backup.saved);
    for (std::size_t b = 0; b < backup.banks.size(); ++b) {
        const BackupBank& bank = backup.banks[b];
        text += "bank" + std::to_string(b) + " device-code=" + Hex(bank.deviceCode, 2) +
                " pages-per-block=" + std::to_string(bank.pagesPerBlock) +
                " blocks=" + std::to_string(bank.blocks) + "\n";
    }
    text += "cis-page " + std::to_string(backup.cisPage) + "\n";
    text += "vendor-page " + std::to_string(backup.vendorPage) + "\n";
    text += "crc32 " + Hex(crc, 8) + "\n";
    text += "data " + std::to_string(data.size()) + "\n";
    return text + data;
}

namespace {

// A "bankN device-code=0xCC pages-per-block=P [blocks=B]" line of the header, checked against
// the flash table: a bank no stick of that kind has is refused. Files of version 1 give no
// block count; the table's is taken.
bool ReadBankLine(const std::string& value, int version, BackupBank* bank) {
    std::string code, pages, blocks;
    long long c = 0, p = 0, n = 0;
    if (!Field(value, "device-code", &code) || !Field(value, "pages-per-block", &pages) ||
        !ParseNumber(code, 0, 255, &c) || !ParseNumber(pages, 1, 255, &p)) {
        return false;
    }
    const FlashGeometry* geometry = LookupFlashGeometry(static_cast<std::uint8_t>(c));
    if (geometry == nullptr || geometry->pagesPerBlock != p) return false;
    if (version >= 2) {
        if (!Field(value, "blocks", &blocks) || !ParseNumber(blocks, 1, 65535, &n) ||
            n != geometry->blocksPerBank) {
            return false;
        }
    }
    bank->deviceCode = static_cast<std::uint8_t>(c);
    bank->pagesPerBlock = static_cast<std::uint8_t>(p);
    bank->blocks = geometry->blocksPerBank;
    return true;
}

}  // namespace

bool DecodeCisBackup(const std::string& bytes, CisBackup* backup, std::string* error) {
    CisBackup read;
    std::size_t at = 0;
    auto nextLine = [&](std::string* line) {
        const std::size_t end = bytes.find('\n', at);
        if (end == std::string::npos) return false;
        *line = bytes.substr(at, end - at);
        at = end + 1;
        return true;
    };
    std::string line;
    const std::string magic = kMagic;
    if (!nextLine(&line) || (line != magic + "1" && line != magic + "2")) {
        *error = "not a CIS backup of this program";
        return false;
    }
    read.version = line.back() - '0';
    bool haveCis = false, haveVendor = false, haveCrc = false, banksOk = true;
    std::uint32_t crc = 0;
    long long dataBytes = -1;
    while (dataBytes < 0 && nextLine(&line)) {
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        const bool v2 = read.version >= 2;
        long long number = 0;
        BackupBank bank;
        if (key == "device") {
            read.device = value;
        } else if (key == "identity") {
            read.identity = value;
        } else if (key == "saved") {
            read.saved = value;
        } else if (v2 && key == "usb-serial") {
            read.usbSerial = value;
        } else if (v2 && key == "usb-port") {
            read.usbPort = value;
        } else if (v2 && key == "inquiry-vendor") {
            read.inquiryVendor = value;
        } else if (v2 && key == "inquiry-product") {
            read.inquiryProduct = value;
        } else if (v2 && key == "inquiry-revision") {
            read.inquiryRevision = value;
        } else if (key == "bank" + std::to_string(read.banks.size()) &&
                   read.banks.size() < (v2 ? kMaxBanks : 1)) {
            banksOk = ReadBankLine(value, read.version, &bank) && banksOk;
            read.banks.push_back(bank);
        } else if (key == "cis-page" && ParseNumber(value, 0, 0x7FFFFFFF, &number)) {
            read.cisPage = static_cast<std::int32_t>(number);
            haveCis = true;
        } else if (key == "vendor-page" && ParseNumber(value, -1, 0x7FFFFFFF, &number)) {
            read.vendorPage = static_cast<std::int32_t>(number);
            haveVendor = true;
        } else if (key == "crc32" && ParseNumber(value, 0, 0xFFFFFFFFll, &number)) {
            crc = static_cast<std::uint32_t>(number);
            haveCrc = true;
        } else if (key == "data" && ParseNumber(value, 0, 2 * kPageImageBytes, &number)) {
            dataBytes = number;
        } else {
            *error = "a line it cannot read: " + Printable(line.substr(0, 40));
            return false;
        }
    }
    if (read.banks.empty() || !haveCis || !haveVendor || !haveCrc || dataBytes < 0) {
        *error = "incomplete: a line of the header is missing";
        return false;
    }
    const std::size_t expected = kPageImageBytes * (read.vendorPage >= 0 ? 2 : 1);
    if (static_cast<std::size_t>(dataBytes) != expected || bytes.size() - at != expected) {
        *error = "damaged: the pages are not all there";
        return false;
    }
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data() + at);
    if (Crc32(data, expected) != crc) {
        *error = "damaged: the pages do not match their checksum";
        return false;
    }
    const BackupBank& bank0 = read.banks[0];
    if (!banksOk ||
        static_cast<std::uint32_t>(read.cisPage) >=
            std::uint32_t{bank0.blocks} * bank0.pagesPerBlock ||
        read.cisPage % bank0.pagesPerBlock != 0 ||
        (read.vendorPage >= 0 && read.vendorPage != read.cisPage + 1)) {
        *error = "holds pages no stick of this kind has";
        return false;
    }
    std::memcpy(read.cis.data(), data, kPageImageBytes);
    if (read.vendorPage >= 0)
        std::memcpy(read.vendor.data(), data + kPageImageBytes, kPageImageBytes);
    *backup = read;
    return true;
}

bool ReadCisBackup(const std::string& path, CisBackup* backup, std::string* error) {
    std::string bytes, reason;
    switch (ReadPlainFile(path, kMaxFileBytes, &bytes, &reason)) {
        case PlainFileStatus::Read:
            break;
        case PlainFileStatus::TooLarge:
            *error = path + ": too large to be a CIS backup";
            return false;
        case PlainFileStatus::Unreadable:
        case PlainFileStatus::NotAPlainFile:
            *error = path + ": " + reason;
            return false;
    }
    if (!DecodeCisBackup(bytes, backup, &reason)) {
        *error = path + ": " + reason;
        return false;
    }
    return true;
}
