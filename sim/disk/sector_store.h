#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

// The logical disk behind READ(10) and WRITE(10): the FAT volume's 512-byte sectors as the
// controller maps them onto the flash. Only sectors that hold anything but zeros take memory.

namespace sim {

constexpr std::size_t kSectorBytes = 512;

class SectorStore {
  public:
    // The disk's size in sectors (0: not formatted).
    std::uint32_t Count() const { return count_; }
    // Resizes the disk; sectors below the new size keep their contents.
    void Resize(std::uint32_t sectors);
    // Every sector reads zeros again.
    void Clear() { stored_.clear(); }

    // One sector below Count(); the caller checks the range.
    void Read(std::uint32_t lba, std::uint8_t* out512) const;
    void Write(std::uint32_t lba, const std::uint8_t* in512);

    // The sectors that hold anything but zeros, in ascending order, and their bytes.
    std::vector<std::uint32_t> UsedSectors() const;
    const std::uint8_t* Stored(std::uint32_t lba) const { return stored_.at(lba).get(); }
    std::size_t StoredBytes() const { return stored_.size() * kSectorBytes; }

  private:
    std::uint32_t count_ = 0;
    std::unordered_map<std::uint32_t, std::unique_ptr<std::uint8_t[]>> stored_;
};

}  // namespace sim
