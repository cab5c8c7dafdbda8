#pragma once
#include <cstddef>
#include <cstdint>

// How one erase block of the NAND misbehaves, the ways real sticks do, and where the budgets of
// its counted faults stand. The flash array (flash_array.h) asks a faulty block's record at
// each erase, program and read; a block without faults has no record at all.

namespace sim {

// A block whose cells are stuck: the bits of `mask` read 0 at byte `byteOffset` (0..527) of page
// `pageInBlock`, whatever is programmed or erased.
struct StuckBits {
    std::uint8_t pageInBlock = 1;
    std::uint16_t byteOffset = 256;
    std::uint8_t mask = 0x10;
};

class BlockFaults {
  public:
    // Erases fail from the (erases + 1)-th on; erases count from the disk's start.
    void SetEraseFailsAfter(std::uint32_t erases);
    void ClearEraseFails() { eraseFails_ = false; }
    // Page programs fail from the (programs + 1)-th from now on.
    void SetProgramFailsAfter(std::uint32_t programs);
    // Reads hand out `budget` flipped bits. The block's number sets it apart from the other
    // blocks of its bank with the same seed: their flips land in places of their own.
    void SetBitFlips(std::uint32_t budget, std::uint32_t seed, std::uint32_t block);
    void SetStuckBits(const StuckBits& bits);
    void SetMarkDoesNotStick(bool doesNotStick) { markDoesNotStick_ = doesNotStick; }

    // Whether the erase after `erasesBefore` earlier ones is refused.
    bool EraseRefused(std::uint32_t erasesBefore) const;
    // How many of `wanted` page programs succeed; counts them all as tried.
    std::uint32_t ProgramsAllowed(std::uint32_t wanted);
    // Clears the stuck bits in bytes [offset, offset + count) of page `pageInBlock`, which lie
    // in `out`.
    void ApplyStuckBits(std::uint32_t pageInBlock, std::size_t offset, std::size_t count,
                        std::uint8_t* out) const;
    // One read of the block: while flips are left, one bit of the `bytes` read flips.
    void DisturbRead(std::uint8_t* out, std::size_t bytes);
    bool MarkSticks() const { return !markDoesNotStick_; }
    std::uint32_t BitFlipsLeft() const { return flipsLeft_; }

  private:
    bool eraseFails_ = false;
    std::uint32_t eraseLimit_ = 0;  // erases that succeed before every later one fails
    bool programFails_ = false;
    std::uint32_t programLimit_ = 0;  // page programs that succeed before every later one fails
    std::uint32_t programs_ = 0;      // page programs tried so far
    std::uint32_t flipsLeft_ = 0;     // bit flips still to hand out on reads
    std::uint32_t random_ = 1;        // where the next flip lands (xorshift state, never 0)
    bool stuck_ = false;
    StuckBits stuckBits_;
    bool markDoesNotStick_ = false;
};

}  // namespace sim
