#include "sim/flash/block_faults.h"

#include <algorithm>

namespace sim {

namespace {

std::uint32_t NextRandom(std::uint32_t* state) {
    std::uint32_t x = *state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    *state = x;
    return x;
}

}  // namespace

void BlockFaults::SetEraseFailsAfter(std::uint32_t erases) {
    eraseFails_ = true;
    eraseLimit_ = erases;
}

void BlockFaults::SetProgramFailsAfter(std::uint32_t programs) {
    programFails_ = true;
    programLimit_ = programs;
    programs_ = 0;
}

void BlockFaults::SetBitFlips(std::uint32_t budget, std::uint32_t seed, std::uint32_t block) {
    flipsLeft_ = budget;
    // A state of its own per block, never 0 (xorshift stays at 0).
    random_ = (seed * 2654435761u) ^ (block * 40503u);
    if (random_ == 0) random_ = 1;
}

void BlockFaults::SetStuckBits(const StuckBits& bits) {
    stuck_ = true;
    stuckBits_ = bits;
}

bool BlockFaults::EraseRefused(std::uint32_t erasesBefore) const {
    return eraseFails_ && erasesBefore >= eraseLimit_;
}

std::uint32_t BlockFaults::ProgramsAllowed(std::uint32_t wanted) {
    if (!programFails_) return wanted;
    const std::uint32_t left = programs_ < programLimit_ ? programLimit_ - programs_ : 0;
    programs_ += wanted;
    return std::min(left, wanted);
}

void BlockFaults::ApplyStuckBits(std::uint32_t pageInBlock, std::size_t offset, std::size_t count,
                                 std::uint8_t* out) const {
    if (!stuck_ || stuckBits_.pageInBlock != pageInBlock) return;
    if (stuckBits_.byteOffset >= offset && stuckBits_.byteOffset < offset + count) {
        out[stuckBits_.byteOffset - offset] &= static_cast<std::uint8_t>(~stuckBits_.mask);
    }
}

void BlockFaults::DisturbRead(std::uint8_t* out, std::size_t bytes) {
    if (flipsLeft_ == 0) return;
    --flipsLeft_;
    const std::uint32_t r = NextRandom(&random_);
    out[r % bytes] ^= static_cast<std::uint8_t>(1u << ((r >> 24) & 7));
}

}  // namespace sim
