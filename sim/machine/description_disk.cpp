// The lines of a flash disk: its banks, the faults of its blocks, its conditions, and the pages
// and logical size it comes with.
#include <algorithm>
#include <vector>

#include "sim/machine/description_reader.h"
#include "sim/machine/factory_image.h"
#include "sim/sim_device.h"
#include "sim/sim_flash_disk.h"

namespace sim {
namespace description {

namespace {

// The blocks all flash disks of a machine may hold together: 64 sticks of 1 GiB (eight banks of
// 79h). Each block costs memory even while erased, and a few lines of text must not ask for
// gigabytes.
constexpr std::uint64_t kMaxMachineBlocks = std::uint64_t{1} << 22;

}  // namespace

bool DescriptionReader::DiskLine(const Line& line) {
    const std::string& k = line.keyword;
    if (k == "banks") {
        Banks(line);
    } else if (k == "bad" || k == "data" || k == "erase-fails" || k == "program-fails" ||
               k == "bit-flips" || k == "stuck" || k == "mark-does-not-stick") {
        BlockFaultLine(line);
    } else if (k == "write-protected" || k == "not-ready" || k == "unit-attention") {
        CheckOptions(line, {}, 0);
        SimFlashDisk& disk = Disk(line);
        if (k == "write-protected") disk.SetWriteProtected(true);
        if (k == "not-ready") disk.SetNotReady(true);
        if (k == "unit-attention") disk.RaiseUnitAttention();
    } else if (k == "reported-banks") {
        CheckOptions(line, {}, 1);
        if (line.words.size() != 1) throw ParseError("\"reported-banks\" needs a count");
        Disk(line).OverrideReportedBankCount(
            static_cast<std::uint8_t>(ParseNumber(line.words[0], 255, "bank count", 10)));
    } else if (k == "cis") {
        Cis(line);
    } else if (k == "vendor-page") {
        CheckOptions(line, {"text"}, 0);
        Disk(line);
        const auto text = line.options.find("text");
        vendorText_ = text == line.options.end() ? "BREVSIM VENDOR PAGE" : text->second;
        vendorWanted_ = true;
        vendorLine_ = line.number;
    } else if (k == "logical") {
        CheckOptions(line, {"sectors"}, 0);
        Disk(line);
        const auto sectors = line.options.find("sectors");
        if (sectors == line.options.end()) throw ParseError("\"logical\" needs sectors=<count>");
        logicalSectors_ = ParseNumber(sectors->second, 0xFFFFFFFFu, "sectors");
        logicalGiven_ = true;
    } else {
        return false;
    }
    return true;
}

SimFlashDisk& DescriptionReader::Disk(const Line& line) {
    if (diskUnit_ == nullptr) {
        throw ParseError("\"" + line.keyword + "\" needs a \"unit DS\" line before it");
    }
    return *diskUnit_->FlashDisk();
}

std::pair<std::size_t, std::uint32_t> DescriptionReader::BlockRef(SimFlashDisk& disk,
                                                                  const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) {
        throw ParseError("block \"" + text + "\" must be written bank:block");
    }
    const std::uint32_t bank = ParseNumber(text.substr(0, colon), 255, "bank");
    const std::uint32_t block = ParseNumber(text.substr(colon + 1), 0xFFFF, "block");
    if (bank >= disk.BankCount()) {
        throw ParseError("block " + text + ": the disk has no bank " + std::to_string(bank));
    }
    if (block >= disk.Geometry(bank).blocksPerBank) {
        throw ParseError("block " + text + ": bank " + std::to_string(bank) + " has " +
                         std::to_string(disk.Geometry(bank).blocksPerBank) + " blocks");
    }
    return {bank, block};
}

void DescriptionReader::Banks(const Line& line) {
    CheckOptions(line, {}, 255);
    SimFlashDisk& disk = Disk(line);
    if (disk.BankCount() > 0) throw ParseError("the disk's banks are given twice");
    if (line.words.empty()) throw ParseError("\"banks\" needs device codes");
    std::vector<std::uint8_t> codes;
    for (const std::string& word : line.words) {
        // "8x79" is eight banks of code 79h.
        const std::size_t x = word.find('x');
        std::uint32_t repeat = 1;
        std::string code = word;
        if (x != std::string::npos && word.compare(0, 2, "0x") != 0) {
            repeat = ParseNumber(word.substr(0, x), 255, "bank repeat count", 10);
            code = word.substr(x + 1);
        }
        if (code.compare(0, 2, "0x") == 0) code = code.substr(2);
        const std::uint8_t value =
            static_cast<std::uint8_t>(ParseNumber(code, 0xFF, "device code", 16));
        codes.insert(codes.end(), repeat, value);
    }
    if (codes.empty() || codes.size() > 255) {
        throw ParseError("a disk has 1 to 255 banks, not " + std::to_string(codes.size()));
    }
    for (std::uint8_t code : codes) flashBlocks_ += GeometryForDeviceCode(code).blocksPerBank;
    if (flashBlocks_ > kMaxMachineBlocks) {
        throw ParseError("the machine's flash disks would hold more than " +
                         std::to_string(kMaxMachineBlocks) + " blocks");
    }
    for (std::uint8_t code : codes) disk.AddBank(code);
}

void DescriptionReader::BlockFaultLine(const Line& line) {
    const bool stuck = line.keyword == "stuck";
    if (stuck) {
        CheckOptions(line, {"page", "byte", "mask"}, 4096);
    } else if (line.keyword == "erase-fails" || line.keyword == "program-fails") {
        CheckOptions(line, {"after"}, 4096);
    } else if (line.keyword == "bit-flips") {
        CheckOptions(line, {"budget", "seed"}, 4096);
    } else {
        CheckOptions(line, {}, 4096);
    }
    SimFlashDisk& disk = Disk(line);
    if (line.words.empty()) throw ParseError("\"" + line.keyword + "\" needs bank:block values");
    auto option = [&](const char* key, std::uint32_t fallback) {
        const auto it = line.options.find(key);
        return it == line.options.end() ? fallback : ParseNumber(it->second, 0xFFFFFFFFu, key);
    };
    const std::uint32_t after = option("after", 0);
    const std::uint32_t budget = option("budget", 1);
    const std::uint32_t seed = option("seed", 1);
    StuckBits bits;
    if (stuck) {
        auto get = [&](const char* key, std::uint32_t max, std::uint32_t fallback) {
            const auto it = line.options.find(key);
            return it == line.options.end() ? fallback : ParseNumber(it->second, max, key);
        };
        bits.byteOffset =
            static_cast<std::uint16_t>(get("byte", kPageImageBytes - 1, bits.byteOffset));
        bits.mask = static_cast<std::uint8_t>(get("mask", 0xFF, bits.mask));
        if (bits.mask == 0) throw ParseError("mask 0 sticks no bit");
        const std::uint32_t page = get("page", 255, bits.pageInBlock);
        bits.pageInBlock = static_cast<std::uint8_t>(page);
        for (const std::string& word : line.words) {
            const auto ref = BlockRef(disk, word);
            if (page >= disk.Geometry(ref.first).pagesPerBlock) {
                throw ParseError("page " + std::to_string(page) + " is past the block's pages");
            }
        }
    }
    for (const std::string& word : line.words) {
        const auto ref = BlockRef(disk, word);
        if (line.keyword == "bad") {
            disk.SetFactoryBad(ref.first, ref.second);
        } else if (line.keyword == "data") {
            WriteDataBlock(disk, ref.first, ref.second);
        } else if (line.keyword == "erase-fails") {
            disk.SetEraseFailsAfter(ref.first, ref.second, after);
        } else if (line.keyword == "program-fails") {
            disk.SetProgramFailsAfter(ref.first, ref.second, after);
        } else if (line.keyword == "bit-flips") {
            disk.SetBitFlips(ref.first, ref.second, budget, seed);
        } else if (line.keyword == "mark-does-not-stick") {
            disk.SetMarkDoesNotStick(ref.first, ref.second);
        } else {
            disk.SetStuckBits(ref.first, ref.second, bits);
        }
    }
}

void DescriptionReader::Cis(const Line& line) {
    CheckOptions(line, {"page", "sectors"}, 0);
    SimFlashDisk& disk = Disk(line);
    if (disk.BankCount() == 0) throw ParseError("\"cis\" needs the \"banks\" line before it");
    const auto page = line.options.find("page");
    cisPage_ = page == line.options.end() ? 0 : ParseNumber(page->second, 0xFFFFFFFEu, "page");
    const BankGeometry& g = disk.Geometry(0);
    if (cisPage_ % g.pagesPerBlock != 0 || cisPage_ >= g.PagesPerBank()) {
        throw ParseError("CIS page " + std::to_string(cisPage_) +
                         " is not the first page of a block of bank 0");
    }
    const auto sectors = line.options.find("sectors");
    cisSectorsGiven_ = sectors != line.options.end();
    if (cisSectorsGiven_) cisSectors_ = ParseNumber(sectors->second, 0xFFFFFFFFu, "sectors");
    cisWanted_ = true;
    cisLine_ = line.number;
}

void DescriptionReader::FinishDisk() {
    if (diskUnit_ == nullptr) return;
    SimFlashDisk& disk = *diskUnit_->FlashDisk();
    if (disk.BankCount() == 0) {
        throw ParseError("the flash disk has no \"banks\" line", diskLine_);
    }
    if (vendorWanted_ && !cisWanted_) {
        throw ParseError("\"vendor-page\" needs a \"cis\" line", vendorLine_);
    }
    std::uint32_t total = 0;
    if (cisWanted_) {
        // Writing the page would wipe the block's bad-block mark, and C3h never reports a CIS
        // page in a marked block: the two lines contradict each other.
        const std::uint32_t block = cisPage_ / disk.Geometry(0).pagesPerBlock;
        if (disk.IsMarkedBad(0, block)) {
            throw ParseError("the CIS page's block 0:" + std::to_string(block) + " is bad",
                             cisLine_);
        }
        total = cisSectorsGiven_ ? cisSectors_ : DefaultSectorTotal(disk);
        WriteCisPage(disk, cisPage_, total);
        if (vendorWanted_) WriteVendorPage(disk, cisPage_ + 1, vendorText_);
    }
    disk.SetSectorCount(logicalGiven_ ? logicalSectors_ : total);
    diskUnit_ = nullptr;
    cisWanted_ = cisSectorsGiven_ = vendorWanted_ = logicalGiven_ = false;
    vendorText_.clear();
}

}  // namespace description
}  // namespace sim
