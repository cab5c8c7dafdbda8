// Speed and memory of the simulated flash disk: commands per second for page reads (E8h), block
// reads (FAh) and erases (F2h), and the peak memory of a 1 GiB disk after every block was
// pattern-filled. Prints figures; asserts nothing.

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "sim/sim_bus.h"
#include "sim/sim_device.h"
#include "sim/sim_flash_disk.h"

namespace {

constexpr std::uint32_t kBanks = 8;
constexpr std::uint32_t kBlocksPerBank = 8192;  // device code 79h
constexpr std::uint8_t kPagesPerBlock = 32;

struct Command {
    std::uint8_t cdb[12] = {};
};

Command SelectBank(std::uint8_t bank) {
    Command c;
    c.cdb[0] = 0xFB;
    c.cdb[1] = bank;
    return c;
}

Command PageCommand(std::uint8_t op, std::uint32_t page, std::uint8_t count) {
    Command c;
    c.cdb[0] = op;
    c.cdb[1] = kPagesPerBlock;
    c.cdb[2] = static_cast<std::uint8_t>(page);
    c.cdb[3] = static_cast<std::uint8_t>(page >> 8);
    c.cdb[4] = static_cast<std::uint8_t>(page >> 16);
    c.cdb[5] = count;
    return c;
}

Command Erase(std::uint32_t page) {
    Command c;
    c.cdb[0] = 0xF2;
    for (int i = 0; i < 4; ++i) c.cdb[2 + i] = static_cast<std::uint8_t>(page >> (8 * i));
    return c;
}

Command Fill(std::uint8_t pattern, std::uint32_t page) {
    Command c;
    c.cdb[0] = 0xC1;
    c.cdb[1] = pattern;
    c.cdb[5] = kPagesPerBlock;
    for (int i = 0; i < 4; ++i) c.cdb[7 + i] = static_cast<std::uint8_t>(page >> (8 * i));
    return c;
}

long PeakKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, 6, "VmHWM:") == 0) return std::stol(line.substr(6));
    }
    return -1;
}

// Runs `make(i)` for every block of every bank through the bus and returns commands per second.
template <typename Make>
double Sweep(sim::SimBus& bus, sim::Direction direction, std::uint8_t* buffer, std::uint32_t length,
             std::uint64_t* failures, Make make) {
    const auto start = std::chrono::steady_clock::now();
    std::uint64_t commands = 0;
    for (std::uint32_t bank = 0; bank < kBanks; ++bank) {
        const Command select = SelectBank(static_cast<std::uint8_t>(bank));
        bus.ExecuteAspi(0, 0, 0, select.cdb, sim::Direction::None, nullptr, 0);
        for (std::uint32_t block = 0; block < kBlocksPerBank; ++block) {
            const Command c = make(block * kPagesPerBlock);
            if (bus.ExecuteAspi(0, 0, 0, c.cdb, direction, buffer, length) != sim::Outcome::Good) {
                ++*failures;
            }
            ++commands;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return commands / seconds;
}

}  // namespace

int main() {
    std::string error;
    std::unique_ptr<sim::SimBus> bus =
        sim::SimBus::Parse("reader adapter=0 target=0\nunit DS drive=E\nbanks 8x79\n", &error);
    if (!bus) {
        std::fprintf(stderr, "sim_bench: %s\n", error.c_str());
        return 1;
    }
    bus->SetTraceEnabled(false);
    std::printf("simulated 1 GiB disk: %u banks of 79h, %u blocks of %u pages\n", kBanks,
                kBanks * kBlocksPerBank, kPagesPerBlock);
    std::printf("peak memory after building it: %ld KiB\n", PeakKilobytes());

    std::vector<std::uint8_t> buffer(kPagesPerBlock * 512);
    std::uint64_t failures = 0;

    const double fills = Sweep(*bus, sim::Direction::None, nullptr, 0, &failures,
                               [](std::uint32_t page) { return Fill(0x55, page); });
    const double pageReads = Sweep(*bus, sim::Direction::In, buffer.data(), 528, &failures,
                                   [](std::uint32_t page) { return PageCommand(0xE8, page, 1); });
    const double blockReads =
        Sweep(*bus, sim::Direction::In, buffer.data(), kPagesPerBlock * 512, &failures,
              [](std::uint32_t page) { return PageCommand(0xFA, page, kPagesPerBlock); });
    const long peakAfterFill = PeakKilobytes();
    const double erases = Sweep(*bus, sim::Direction::None, nullptr, 0, &failures,
                                [](std::uint32_t page) { return Erase(page); });

    std::printf("fill (C1h, 32 pages)       : %12.0f commands/s\n", fills);
    std::printf("page read (E8h, 528 bytes) : %12.0f commands/s\n", pageReads);
    std::printf("block read (FAh, 16 KiB)   : %12.0f commands/s\n", blockReads);
    std::printf("erase (F2h)                : %12.0f commands/s\n", erases);
    std::printf(
        "peak memory (VmHWM) after every block was pattern-filled: %ld KiB (%.1f MiB; "
        "target under 64 MiB)\n",
        peakAfterFill, peakAfterFill / 1024.0);
    std::printf("cells held for mixed blocks and sectors now: %zu bytes\n",
                bus->FlashDisk()->StoredBytes());

    // The trace keeps every command: what it costs over one sweep of page reads.
    bus->SetTraceEnabled(true);
    const double tracedReads = Sweep(*bus, sim::Direction::In, buffer.data(), 528, &failures,
                                     [](std::uint32_t page) { return PageCommand(0xE8, page, 1); });
    std::printf(
        "page read with the trace on: %12.0f commands/s; %zu entries, peak memory now "
        "%ld KiB\n",
        tracedReads, bus->Trace().size(), PeakKilobytes());
    if (failures > 0) {
        std::printf("commands that did not complete good: %llu\n",
                    static_cast<unsigned long long>(failures));
        return 1;
    }
    return 0;
}
