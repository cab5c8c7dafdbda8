#include "sim/disk/disk_exports.h"

#include <fstream>
#include <vector>

namespace sim {

bool ExportSectors(const SectorStore& sectors, const std::string& path, std::string* error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!ExportSectors(sectors, out, nullptr)) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    return true;
}

bool ExportSectors(const SectorStore& sectors, std::ostream& out, std::string* error) {
    const std::vector<std::uint32_t> used = sectors.UsedSectors();
    for (std::uint32_t lba : used) {
        out.seekp(static_cast<std::streamoff>(lba) * kSectorBytes);
        out.write(reinterpret_cast<const char*>(sectors.Stored(lba)), kSectorBytes);
    }
    // The sectors never written read as zeros: past the last one written the file only needs
    // its full length, which its last byte gives it (the rest stays a hole).
    const std::streamoff length = static_cast<std::streamoff>(sectors.Count()) * kSectorBytes;
    if (length > 0 && (used.empty() || used.back() + 1 < sectors.Count())) {
        out.seekp(length - 1);
        out.put('\0');
    }
    out.flush();
    if (!out) {
        if (error) *error = "cannot write the image";
        return false;
    }
    return true;
}

bool ExportPages(const FlashArray& flash, std::size_t bank, std::uint32_t firstPage,
                 std::uint32_t count, const std::string& path, std::string* error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::string reason;
    if (!ExportPages(flash, bank, firstPage, count, out, &reason)) {
        if (error) *error = out ? reason : "cannot write " + path;
        return false;
    }
    return true;
}

bool ExportPages(const FlashArray& flash, std::size_t bank, std::uint32_t firstPage,
                 std::uint32_t count, std::ostream& out, std::string* error) {
    if (bank >= flash.BankCount()) {
        if (error) *error = "no bank " + std::to_string(bank);
        return false;
    }
    const std::uint32_t pages = flash.Geometry(bank).PagesPerBank();
    if (firstPage >= pages || count > pages - firstPage) {
        if (error) *error = "pages out of range of bank " + std::to_string(bank);
        return false;
    }
    PageBytes image;
    for (std::uint32_t i = 0; i < count && out; ++i) {
        flash.Read(bank, firstPage + i, 0, kPageImageBytes, image.data());
        out.write(reinterpret_cast<const char*>(image.data()), kPageImageBytes);
    }
    out.flush();
    if (!out) {
        if (error) *error = "cannot write the pages";
        return false;
    }
    return true;
}

}  // namespace sim
