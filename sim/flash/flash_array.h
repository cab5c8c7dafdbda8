#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "sim/flash/block_faults.h"
#include "sim/flash/flash_geometry.h"

// The NAND of one flash disk: banks of erase blocks of pages. It behaves like the real thing
// where the program depends on it: erase sets a block to 0xFF, programming can only clear bits
// (new = old AND written), and faulty blocks misbehave in the ways real sticks do
// (block_faults.h). Blocks are stored compactly: a block whose every byte (data and spare) holds
// one value costs a couple of bytes; only blocks with mixed contents keep their pages.
//
// Pages are numbered within their bank. The operations the controller uses take pages and
// blocks it has checked; the set-up ones check banks and blocks themselves (std::out_of_range).

namespace sim {

class FlashArray {
  public:
    // Appends a bank of the part with this device code; all its blocks start erased (0xFF).
    void AddBank(std::uint8_t deviceCode);
    std::size_t BankCount() const { return banks_.size(); }
    const BankGeometry& Geometry(std::size_t bank) const { return banks_.at(bank).geometry; }

    // --- What the controller does to the cells -------------------------------------------------
    // Copies bytes [offset, offset + count) of a page image as the cells read them.
    void Read(std::size_t bank, std::uint32_t page, std::size_t offset, std::size_t count,
              std::uint8_t* out) const;
    // Read disturb of one read command: the bytes of `count` pages from `page` on,
    // `bytesPerPage` each, lie one after the other in `out`; each block they come from that
    // still has flips to give flips one bit of them. The cells keep what they hold.
    void DisturbRead(std::size_t bank, std::uint32_t page, std::uint32_t count,
                     std::size_t bytesPerPage, std::uint8_t* out);
    // Programs one page image. False when the block refuses it: the page stays as it was.
    bool Program(std::size_t bank, std::uint32_t page, const std::uint8_t* image);
    // Programs `value` into data and spare of count pages from page on (count may cross
    // blocks), in order. False when a block refused a page: the pages before it are programmed,
    // the rest not.
    bool Fill(std::size_t bank, std::uint32_t page, std::uint32_t count, std::uint8_t value);
    // Erases a block to 0xFF and counts the erase. False when the block refuses it (unchanged).
    bool Erase(std::size_t bank, std::uint32_t block);
    // Programs the bad-block mark into the block's first page, whatever the block's wear: it is
    // what marks are for. A block whose mark does not stick keeps its spare bytes.
    void Mark(std::size_t bank, std::uint32_t block);
    // True when the block's first page has a spare byte 0..5 other than 0xFF.
    bool Marked(std::size_t bank, std::uint32_t block) const;

    // --- Set-up and inspection ----------------------------------------------------------------
    // Stores the image exactly (no AND, no faults applied); a page past the bank is ignored.
    void ProgramRaw(std::size_t bank, std::uint32_t page, const std::uint8_t* image528);
    // Sets every byte of the block (data and spare) to value.
    void FillBlockRaw(std::size_t bank, std::uint32_t block, std::uint8_t value);
    // A factory-bad block: its first page carries 0x00 in spare bytes 0..5.
    void SetFactoryBad(std::size_t bank, std::uint32_t block);
    // The block's faults, made on first use.
    BlockFaults& Faults(std::size_t bank, std::uint32_t block);
    // Erase commands the block received (refused ones included); flips it has still to give.
    std::uint32_t EraseCount(std::size_t bank, std::uint32_t block) const;
    std::uint32_t BitFlipsLeft(std::size_t bank, std::uint32_t block) const;
    // Bytes held for blocks that keep their pages.
    std::size_t StoredBytes() const;

  private:
    // One erase block. Without pages every byte of it (data and spare) holds `fill`.
    struct Block {
        std::unique_ptr<std::uint8_t[]> pages;
        std::uint8_t fill = 0xFF;
        bool faulty = false;       // it has a record in faults_
        std::uint32_t erases = 0;  // erase commands the block received
    };

    struct Bank {
        BankGeometry geometry;
        std::vector<Block> blocks;
    };

    static std::uint64_t Key(std::size_t bank, std::uint32_t block) {
        return (static_cast<std::uint64_t>(bank) << 32) | block;
    }
    static std::size_t BlockBytes(const Bank& bank) {
        return static_cast<std::size_t>(bank.geometry.pagesPerBlock) * kPageImageBytes;
    }
    static std::uint8_t* Materialize(const Bank& bank, Block& block);
    static void SetUniform(Block& block, std::uint8_t value);
    static void CollapseIfUniform(const Bank& bank, Block& block);
    static void ProgramBits(Bank& bank, std::uint32_t page, const std::uint8_t* image);
    std::uint32_t ProgramsAllowed(std::size_t bank, std::uint32_t block, std::uint32_t wanted);

    std::vector<Bank> banks_;
    std::unordered_map<std::uint64_t, BlockFaults> faults_;  // of the blocks that have any
};

}  // namespace sim
