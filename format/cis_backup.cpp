#include "format/cis_backup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "format/flash_geometry.h"

namespace {

constexpr char kMagic[] = "BREVANT CIS BACKUP 1";
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
    std::string text = std::string(kMagic) + "\n";
    text += "device " + OneLine(backup.device) + "\n";
    text += "identity " + OneLine(backup.identity) + "\n";
    text += "saved " + OneLine(backup.saved) + "\n";
    text += "bank0 device-code=" + Hex(backup.deviceCode, 2) +
            " pages-per-block=" + std::to_string(backup.pagesPerBlock) + "\n";
    text += "cis-page " + std::to_string(backup.cisPage) + "\n";
    text += "vendor-page " + std::to_string(backup.vendorPage) + "\n";
    text += "crc32 " + Hex(crc, 8) + "\n";
    text += "data " + std::to_string(data.size()) + "\n";
    return text + data;
}

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
    if (!nextLine(&line) || line != kMagic) {
        *error = "not a CIS backup of this program";
        return false;
    }
    bool haveGeometry = false, haveCis = false, haveVendor = false, haveCrc = false;
    std::uint32_t crc = 0;
    long long dataBytes = -1;
    while (dataBytes < 0 && nextLine(&line)) {
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        long long number = 0;
        if (key == "device") {
            read.device = value;
        } else if (key == "identity") {
            read.identity = value;
        } else if (key == "saved") {
            read.saved = value;
        } else if (key == "bank0") {
            std::string code, pages;
            long long c = 0, p = 0;
            haveGeometry = Field(value, "device-code", &code) &&
                           Field(value, "pages-per-block", &pages) &&
                           ParseNumber(code, 0, 255, &c) && ParseNumber(pages, 1, 255, &p);
            read.deviceCode = static_cast<std::uint8_t>(c);
            read.pagesPerBlock = static_cast<std::uint8_t>(p);
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
    if (!haveGeometry || !haveCis || !haveVendor || !haveCrc || dataBytes < 0) {
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
    const FlashGeometry* geometry = LookupFlashGeometry(read.deviceCode);
    const std::uint32_t pagesInBank =
        geometry == nullptr ? 0 : std::uint32_t{geometry->blocksPerBank} * geometry->pagesPerBlock;
    if (geometry == nullptr || geometry->pagesPerBlock != read.pagesPerBlock ||
        static_cast<std::uint32_t>(read.cisPage) >= pagesInBank ||
        read.cisPage % read.pagesPerBlock != 0 ||
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
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    std::string bytes(kMaxFileBytes + 1, '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (bytes.size() > kMaxFileBytes) {
        *error = path + ": too large to be a CIS backup";
        return false;
    }
    std::string reason;
    if (!DecodeCisBackup(bytes, backup, &reason)) {
        *error = path + ": " + reason;
        return false;
    }
    return true;
}
