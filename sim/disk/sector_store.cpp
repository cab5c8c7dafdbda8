#include "sim/disk/sector_store.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace sim {

void SectorStore::Resize(std::uint32_t sectors) {
    count_ = sectors;
    for (auto it = stored_.begin(); it != stored_.end();) {
        it = it->first >= sectors ? stored_.erase(it) : std::next(it);
    }
}

void SectorStore::Read(std::uint32_t lba, std::uint8_t* out) const {
    const auto it = stored_.find(lba);
    if (it == stored_.end()) {
        std::memset(out, 0, kSectorBytes);
    } else {
        std::memcpy(out, it->second.get(), kSectorBytes);
    }
}

void SectorStore::Write(std::uint32_t lba, const std::uint8_t* in) {
    const bool empty = std::all_of(in, in + kSectorBytes, [](std::uint8_t b) { return b == 0; });
    if (empty) {
        stored_.erase(lba);
        return;
    }
    std::unique_ptr<std::uint8_t[]>& slot = stored_[lba];
    if (!slot) slot.reset(new std::uint8_t[kSectorBytes]);
    std::memcpy(slot.get(), in, kSectorBytes);
}

std::vector<std::uint32_t> SectorStore::UsedSectors() const {
    std::vector<std::uint32_t> used;
    used.reserve(stored_.size());
    for (const auto& entry : stored_) used.push_back(entry.first);
    std::sort(used.begin(), used.end());
    return used;
}

}  // namespace sim
