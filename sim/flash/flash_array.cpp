#include "sim/flash/flash_array.h"

#include <algorithm>
#include <cstring>

namespace sim {

void FlashArray::AddBank(std::uint8_t deviceCode) {
    Bank bank;
    bank.geometry = GeometryForDeviceCode(deviceCode);
    bank.blocks.resize(bank.geometry.blocksPerBank);
    banks_.push_back(std::move(bank));
}

// --- Compact storage -----------------------------------------------------------------------------

std::uint8_t* FlashArray::Materialize(const Bank& bank, Block& block) {
    if (!block.pages) {
        const std::size_t bytes = BlockBytes(bank);
        block.pages.reset(new std::uint8_t[bytes]);
        std::memset(block.pages.get(), block.fill, bytes);
    }
    return block.pages.get();
}

void FlashArray::SetUniform(Block& block, std::uint8_t value) {
    block.pages.reset();
    block.fill = value;
}

void FlashArray::CollapseIfUniform(const Bank& bank, Block& block) {
    if (!block.pages) return;
    const std::uint8_t* cells = block.pages.get();
    const std::size_t bytes = BlockBytes(bank);
    for (std::size_t i = 1; i < bytes; ++i) {
        if (cells[i] != cells[0]) return;
    }
    SetUniform(block, cells[0]);
}

// --- What the controller does to the cells -------------------------------------------------------

void FlashArray::Read(std::size_t bankIndex, std::uint32_t page, std::size_t offset,
                      std::size_t count, std::uint8_t* out) const {
    const Bank& bank = banks_[bankIndex];
    const std::uint32_t ppb = bank.geometry.pagesPerBlock;
    const std::uint32_t blockIndex = page / ppb;
    const std::uint32_t pageInBlock = page % ppb;
    const Block& block = bank.blocks[blockIndex];
    if (block.pages) {
        std::memcpy(out, block.pages.get() + pageInBlock * kPageImageBytes + offset, count);
    } else {
        std::memset(out, block.fill, count);
    }
    if (block.faulty) {
        faults_.at(Key(bankIndex, blockIndex)).ApplyStuckBits(pageInBlock, offset, count, out);
    }
}

void FlashArray::DisturbRead(std::size_t bankIndex, std::uint32_t page, std::uint32_t count,
                             std::size_t bytesPerPage, std::uint8_t* out) {
    const Bank& bank = banks_[bankIndex];
    const std::uint32_t ppb = bank.geometry.pagesPerBlock;
    while (count > 0) {
        const std::uint32_t blockIndex = page / ppb;
        const std::uint32_t n = std::min(count, ppb - page % ppb);
        if (bank.blocks[blockIndex].faulty) {
            faults_.at(Key(bankIndex, blockIndex)).DisturbRead(out, n * bytesPerPage);
        }
        out += n * bytesPerPage;
        page += n;
        count -= n;
    }
}

std::uint32_t FlashArray::ProgramsAllowed(std::size_t bankIndex, std::uint32_t blockIndex,
                                          std::uint32_t wanted) {
    if (!banks_[bankIndex].blocks[blockIndex].faulty) return wanted;
    return faults_.at(Key(bankIndex, blockIndex)).ProgramsAllowed(wanted);
}

// NAND programming: every cell can only go from 1 to 0.
void FlashArray::ProgramBits(Bank& bank, std::uint32_t page, const std::uint8_t* image) {
    const std::uint32_t ppb = bank.geometry.pagesPerBlock;
    Block& block = bank.blocks[page / ppb];
    if (!block.pages) {
        bool changes = false;
        for (std::size_t i = 0; i < kPageImageBytes && !changes; ++i) {
            changes = (block.fill & image[i]) != block.fill;
        }
        if (!changes) return;
    }
    std::uint8_t* cells = Materialize(bank, block) + (page % ppb) * kPageImageBytes;
    for (std::size_t i = 0; i < kPageImageBytes; ++i) cells[i] &= image[i];
}

bool FlashArray::Program(std::size_t bankIndex, std::uint32_t page, const std::uint8_t* image) {
    Bank& bank = banks_[bankIndex];
    if (ProgramsAllowed(bankIndex, page / bank.geometry.pagesPerBlock, 1) == 0) return false;
    ProgramBits(bank, page, image);
    return true;
}

bool FlashArray::Fill(std::size_t bankIndex, std::uint32_t page, std::uint32_t count,
                      std::uint8_t value) {
    Bank& bank = banks_[bankIndex];
    const std::uint32_t ppb = bank.geometry.pagesPerBlock;
    while (count > 0) {
        Block& block = bank.blocks[page / ppb];
        const std::uint32_t first = page % ppb;
        const std::uint32_t wanted = std::min(count, ppb - first);
        const std::uint32_t n = ProgramsAllowed(bankIndex, page / ppb, wanted);
        if (n == 0 || (!block.pages && (block.fill & value) == block.fill)) {
            // nothing changes
        } else if (!block.pages && first == 0 && n == ppb) {
            block.fill &= value;
        } else {
            std::uint8_t* cells = Materialize(bank, block) + first * kPageImageBytes;
            for (std::size_t i = 0; i < n * kPageImageBytes; ++i) cells[i] &= value;
            CollapseIfUniform(bank, block);
        }
        if (n < wanted) return false;
        page += n;
        count -= n;
    }
    return true;
}

bool FlashArray::Erase(std::size_t bankIndex, std::uint32_t blockIndex) {
    Block& block = banks_[bankIndex].blocks[blockIndex];
    const std::uint32_t erasesBefore = block.erases++;
    if (block.faulty && faults_.at(Key(bankIndex, blockIndex)).EraseRefused(erasesBefore)) {
        return false;
    }
    SetUniform(block, 0xFF);
    return true;
}

void FlashArray::Mark(std::size_t bankIndex, std::uint32_t blockIndex) {
    Bank& bank = banks_[bankIndex];
    if (bank.blocks[blockIndex].faulty && !faults_.at(Key(bankIndex, blockIndex)).MarkSticks()) {
        return;
    }
    PageBytes image;
    image.fill(0xFF);
    std::fill_n(image.begin() + kMarkFirst, kMarkBytes, 0x00);
    ProgramBits(bank, blockIndex * bank.geometry.pagesPerBlock, image.data());
}

bool FlashArray::Marked(std::size_t bankIndex, std::uint32_t block) const {
    std::uint8_t mark[kMarkBytes];
    const std::uint32_t page = block * banks_[bankIndex].geometry.pagesPerBlock;
    Read(bankIndex, page, kMarkFirst, kMarkBytes, mark);
    return std::any_of(mark, mark + kMarkBytes, [](std::uint8_t b) { return b != 0xFF; });
}

// --- Set-up and inspection -----------------------------------------------------------------------

void FlashArray::ProgramRaw(std::size_t bankIndex, std::uint32_t page,
                            const std::uint8_t* image528) {
    Bank& bank = banks_.at(bankIndex);
    if (page >= bank.geometry.PagesPerBank()) return;
    const std::uint32_t ppb = bank.geometry.pagesPerBlock;
    std::uint8_t* cells = Materialize(bank, bank.blocks[page / ppb]);
    std::memcpy(cells + (page % ppb) * kPageImageBytes, image528, kPageImageBytes);
}

void FlashArray::FillBlockRaw(std::size_t bank, std::uint32_t block, std::uint8_t value) {
    SetUniform(banks_.at(bank).blocks.at(block), value);
}

void FlashArray::SetFactoryBad(std::size_t bankIndex, std::uint32_t block) {
    Bank& bank = banks_.at(bankIndex);
    std::uint8_t* cells = Materialize(bank, bank.blocks.at(block));
    std::fill_n(cells + kMarkFirst, kMarkBytes, 0x00);
}

BlockFaults& FlashArray::Faults(std::size_t bank, std::uint32_t block) {
    banks_.at(bank).blocks.at(block).faulty = true;
    return faults_[Key(bank, block)];
}

std::uint32_t FlashArray::EraseCount(std::size_t bank, std::uint32_t block) const {
    return banks_.at(bank).blocks.at(block).erases;
}

std::uint32_t FlashArray::BitFlipsLeft(std::size_t bank, std::uint32_t block) const {
    const auto it = faults_.find(Key(bank, block));
    return it == faults_.end() ? 0 : it->second.BitFlipsLeft();
}

std::size_t FlashArray::StoredBytes() const {
    std::size_t bytes = 0;
    for (const Bank& bank : banks_) {
        for (const Block& block : bank.blocks) {
            if (block.pages) bytes += BlockBytes(bank);
        }
    }
    return bytes;
}

}  // namespace sim
