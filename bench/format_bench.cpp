// Prints what a format costs on the simulated flash disk with no latency: the commands each mode
// issues per block, the host time per command, and the wall time and peak memory of a Quick and
// a Full format (default settings) of a 1 GiB disk (8 banks of 128 MiB parts).

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>

#include "format/physical_format.h"
#include "reader/transport.h"
#include "reader/units.h"
#include "sim/sim_bus.h"
#include "sim/sim_device.h"
#include "sim/sim_flash_disk.h"
#include "sim/sim_os_layer.h"

namespace {

class BenchRun : public RunInterface {
  public:
    BenchRun() { log_.Open(0); }
    void PumpOneMessage() override {}
    bool StopRequested() override { return false; }
    void ResetProgress() override { total_ = done_ = 0; }
    void SetProgressPosition(int) override {}
    std::uint32_t& TotalBlocks() override { return total_; }
    std::uint32_t& BlocksDone() override { return done_; }
    void SetRunMessage(const std::string&) override {}
    void ShowPercentText(const std::string&) override {}
    BoxAnswer MessageBox(const std::string&, const std::string&, BoxButtons) override {
        return BoxAnswer::Ok;
    }
    std::string Title() override { return "Brevant Utility"; }
    std::string ApplicationName() override { return "Brevant"; }
    FormatLog& Log() override { return log_; }
    const FormatSettings& Settings() override { return settings; }

    FormatSettings settings;

  private:
    FormatLog log_;
    std::uint32_t total_ = 0;
    std::uint32_t done_ = 0;
};

struct Measurement {
    FormatResult result = FormatResult::Failed;
    std::uint64_t commands = 0;
    std::uint64_t volumeWrites = 0;
    std::uint32_t blocks = 0;
    double seconds = 0;
    long peakKiB = 0;
    std::size_t storedBytes = 0;
};

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

Measurement Format(std::initializer_list<std::uint8_t> banks, FormatMode mode,
                   const FormatSettings& settings) {
    sim::SimBus bus;
    bus.SetTraceEnabled(false);  // a million entries would dominate the figures
    sim::SimFlashDisk* disk = bus.AddReader(0, 0).AddUnit("DS").FlashDisk();
    for (std::uint8_t code : banks) disk->AddBank(code);
    sim::SimOsLayer os(bus);
    InstallOsLayer(&os);
    Measurement m;
    if (OpenTransport() != 1) {
        std::printf("transport did not open\n");
        InstallOsLayer(nullptr);
        return m;
    }
    std::uint8_t count = 0;
    MediaType keys[kMaxUnits] = {};
    DiscoverUnits(&count, keys);
    BenchRun run;
    run.settings = settings;
    const std::uint64_t before = bus.ReaderCommandCount();
    const auto start = std::chrono::steady_clock::now();
    m.result = RunPhysicalFormat(run, count > 0 ? keys[0] : kMediaNone, mode);
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.commands = bus.ReaderCommandCount() - before;
    m.volumeWrites = disk->CommandCount(0x2A);
    m.blocks = run.BlocksDone();
    m.peakKiB = PeakKiB();
    m.storedBytes = disk->StoredBytes();
    CloseTransport();
    InstallOsLayer(nullptr);
    return m;
}

// Commands of the scan alone, per block: a run's commands less those outside the block loop
// (readiness, banks, CIS discovery, CIS page and volume writes), measured on one small bank.
double CommandsPerBlock(FormatMode mode, const FormatSettings& settings) {
    const Measurement m = Format({0x75}, mode, settings);
    // TUR, bank count, select + device code twice, CIS number; select, CIS write, C4.
    const std::uint64_t fixed = 1 + 1 + 2 + 2 + 1 + 2 + 1 + m.volumeWrites;
    return static_cast<double>(m.commands - fixed) / m.blocks;
}

void Report(const char* name, const Measurement& m) {
    std::printf(
        "%-28s result %d, %u blocks, %llu commands, %.2f s wall, %.2f us/command, "
        "peak RSS %.1f MiB, disk model %.1f MiB\n",
        name, static_cast<int>(m.result), m.blocks, static_cast<unsigned long long>(m.commands),
        m.seconds, m.commands ? m.seconds * 1e6 / m.commands : 0.0, m.peakKiB / 1024.0,
        m.storedBytes / 1048576.0);
}

}  // namespace

int main() {
    const FormatSettings defaults;
    FormatSettings everything;
    everything.AscendPtnTest = 1;
    everything.VerifyMarkBad = 1;

    std::printf("Commands per block (32 pages a block):\n");
    std::printf("  Quick                         %.2f (expected 2: good test, erase)\n",
                CommandsPerBlock(FormatMode::Quick, defaults));
    std::printf("  Full, default settings        %.2f (expected 12: 1 + 4 + 4 + 1 + 2)\n",
                CommandsPerBlock(FormatMode::Full, defaults));
    std::printf("  Full, ascending pattern too   %.2f (expected 77: 1 + 65 + 4 + 4 + 1 + 2)\n",
                CommandsPerBlock(FormatMode::Full, everything));

    const std::initializer_list<std::uint8_t> gib = {0x79, 0x79, 0x79, 0x79,
                                                     0x79, 0x79, 0x79, 0x79};
    std::printf(
        "\n1 GiB disk (8 banks of 79h), no latency (targets: Quick < 5 s, Full < 30 s, "
        "peak < 100 MiB):\n");
    Report("Quick format", Format(gib, FormatMode::Quick, defaults));
    Report("Full format", Format(gib, FormatMode::Full, defaults));
    return 0;
}
