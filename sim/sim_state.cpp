#include "sim/sim_state.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace sim {
namespace {

constexpr char kStateMagic[8] = {'B', 'R', 'S', 'I', 'M', 'S', 'T', '1'};
constexpr std::uint32_t kEndOfList = 0xFFFFFFFFu;

bool AllBytes(const std::uint8_t* bytes, std::size_t count, std::uint8_t value) {
    return std::all_of(bytes, bytes + count, [value](std::uint8_t b) { return b == value; });
}

void PutU32(std::ostream& out, std::uint32_t value) {
    out.write(reinterpret_cast<const char*>(&value), sizeof value);
}

bool GetU32(std::istream& in, std::uint32_t* value) {
    return static_cast<bool>(in.read(reinterpret_cast<char*>(value), sizeof *value));
}

}  // namespace

// The file: a magic, then per bank its page count and the pages that are not erased (page
// number and 528 bytes), then the logical size and the sectors that are not all zero, each list
// ended by kEndOfList.
bool SaveDiskState(const SimFlashDisk& disk_, const std::string& path) {
    const SimFlashDisk* disk = &disk_;
    // Written beside the file and renamed over it, so that a process killed while it saves
    // leaves the state before, whole.
    const std::string part = path + ".part";
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out.write(kStateMagic, sizeof kStateMagic);
    PutU32(out, static_cast<std::uint32_t>(disk->BankCount()));
    for (std::size_t bank = 0; bank < disk->BankCount() && out; ++bank) {
        std::uint32_t pages = disk->Geometry(bank).PagesPerBank();
        PutU32(out, pages);
        for (std::uint32_t page = 0; page < pages; ++page) {
            PageBytes image = disk->ReadPage(bank, page);
            if (AllBytes(image.data(), image.size(), 0xFF)) continue;
            PutU32(out, page);
            out.write(reinterpret_cast<const char*>(image.data()), image.size());
        }
        PutU32(out, kEndOfList);
    }
    PutU32(out, disk->SectorCount());
    std::uint8_t sector[kSectorBytes];
    for (std::uint32_t lba = 0; lba < disk->SectorCount() && out; ++lba) {
        if (!disk->ReadSector(lba, sector) || AllBytes(sector, sizeof sector, 0)) continue;
        PutU32(out, lba);
        out.write(reinterpret_cast<const char*>(sector), sizeof sector);
    }
    PutU32(out, kEndOfList);
    out.close();
    if (!out) return false;
    // Not std::rename: the C library of Windows does not rename over a file that is there.
    std::error_code failed;
    std::filesystem::rename(part, path, failed);
    return !failed;
}

bool LoadDiskState(SimFlashDisk& disk_, const std::string& path, std::string* error) {
    SimFlashDisk* disk = &disk_;
    std::ifstream in(path, std::ios::binary);
    if (!in) return true;  // the first process: nothing kept yet
    char magic[sizeof kStateMagic] = {};
    std::uint32_t banks = 0;
    in.read(magic, sizeof magic);
    if (!in || std::memcmp(magic, kStateMagic, sizeof magic) != 0 || !GetU32(in, &banks) ||
        banks != disk->BankCount()) {
        *error = path + ": not a state file of this disk";
        return false;
    }
    for (std::size_t bank = 0; bank < banks; ++bank) {
        std::uint32_t pages = 0;
        if (!GetU32(in, &pages) || pages != disk->Geometry(bank).PagesPerBank()) {
            *error = path + ": bank geometry differs";
            return false;
        }
        for (std::uint32_t block = 0; block < disk->Geometry(bank).blocksPerBank; ++block) {
            disk->FillBlockRaw(bank, block, 0xFF);
        }
        std::uint32_t page = 0;
        PageBytes image;
        while (GetU32(in, &page) && page != kEndOfList && page < pages &&
               in.read(reinterpret_cast<char*>(image.data()), image.size())) {
            disk->ProgramPageRaw(bank, page, image.data());
        }
    }
    std::uint32_t sectors = 0;
    if (!GetU32(in, &sectors)) {
        *error = path + ": truncated";
        return false;
    }
    // Shrinking to nothing first drops what the description wrote: unsaved sectors were zero.
    disk->SetSectorCount(0);
    disk->SetSectorCount(sectors);
    std::uint32_t lba = 0;
    std::uint8_t sector[kSectorBytes];
    while (GetU32(in, &lba) && lba != kEndOfList &&
           in.read(reinterpret_cast<char*>(sector), sizeof sector)) {
        disk->WriteSector(lba, sector);
    }
    return true;
}

}  // namespace sim

namespace sim {

StateKeepingPort::StateKeepingPort(ScsiPort& port, const SimFlashDisk& disk, std::string path,
                                   std::chrono::milliseconds interval)
    : ForwardingPort(port),
      disk_(disk),
      path_(std::move(path)),
      interval_(interval),
      lastSave_(std::chrono::steady_clock::now()) {}

StateKeepingPort::~StateKeepingPort() {
    if (changed_) SaveDiskState(disk_, path_);
}

CommandOutcome StateKeepingPort::Execute(const PortAddress& address, const std::uint8_t* cdb,
                                         std::uint8_t cdbLength, DataPhase phase, void* buffer,
                                         std::uint32_t length, std::uint16_t timeoutSeconds) {
    const CommandOutcome outcome =
        base_.Execute(address, cdb, cdbLength, phase, buffer, length, timeoutSeconds);
    changed_ = true;  // reads change nothing, but telling them apart is not worth the risk
    const auto now = std::chrono::steady_clock::now();
    if (now - lastSave_ >= interval_) {
        SaveDiskState(disk_, path_);
        lastSave_ = now;
        changed_ = false;
    }
    return outcome;
}

}  // namespace sim
