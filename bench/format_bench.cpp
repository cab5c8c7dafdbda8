// Prints what a format costs on the simulated flash disk with no latency: the commands each mode
// issues per block, the host time per command, and the wall time and peak memory of a Quick and
// a Full format (default settings) of a 1 GiB disk (8 banks of 128 MiB parts), and of a Full
// format with the ascending pattern test of sim/examples/disk-1gib.txt. Every run's result is
// checked; a wrong one ends the benchmark with status 1.

#include <chrono>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>

#include "format/physical_format.h"
#include "reader/reader.h"
#include "reader/units.h"
#include "reader/win32/windows_back_ends.h"
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
    std::uint32_t badBlocks = 0;
    std::uint32_t sectors = 0;
    double seconds = 0;
    long peakKiB = 0;
    std::size_t storedBytes = 0;
};

// The process's peak resident size (VmHWM) in KiB.
long PeakKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, 6, "VmHWM:") == 0) return std::stol(line.substr(6));
    }
    return -1;
}

// Starts the peak over from what the process holds now, so that each run reports its own.
bool ResetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5\n";
    clear.flush();
    return static_cast<bool>(clear);
}

// Formats the machine's first flash disk through a real reader (the Windows back-ends over the
// simulated machine), discovery and the engine.
Measurement Format(sim::SimBus& bus, FormatMode mode, const FormatSettings& settings) {
    sim::SimFlashDisk* disk = bus.FlashDisk(0);
    sim::SimOsLayer os(bus);
    Reader reader(std::make_unique<WindowsBackEnds>(os));
    Measurement m;
    if (disk == nullptr || reader.OpenTransport() != 1) {
        std::printf("transport did not open\n");
        m.result = FormatResult::Failed;
        return m;
    }
    std::uint8_t count = 0;
    MediaType keys[kMaxUnits] = {};
    reader.DiscoverUnits(&count, keys);
    BenchRun run;
    run.settings = settings;
    const std::uint64_t before = bus.ReaderCommandCount();
    const auto start = std::chrono::steady_clock::now();
    m.result = RunPhysicalFormat(run, reader, count > 0 ? keys[0] : kMediaNone, mode);
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.commands = bus.ReaderCommandCount() - before;
    m.volumeWrites = disk->CommandCount(0x2A);
    m.blocks = run.BlocksDone();
    m.peakKiB = PeakKiB();
    m.storedBytes = disk->StoredBytes();
    m.sectors = disk->SectorCount();
    for (std::size_t bank = 0; bank < disk->BankCount(); ++bank) {
        for (std::uint32_t block = 0; block < disk->Geometry(bank).blocksPerBank; ++block) {
            m.badBlocks += disk->IsMarkedBad(bank, block) ? 1 : 0;
        }
    }
    return m;
}

Measurement Format(std::initializer_list<std::uint8_t> banks, FormatMode mode,
                   const FormatSettings& settings) {
    sim::SimBus bus;
    sim::SimFlashDisk* disk = bus.AddReader(0, 0).AddUnit("DS").FlashDisk();
    for (std::uint8_t code : banks) disk->AddBank(code);
    return Format(bus, mode, settings);
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
        "%-28s result %d, %u blocks, %u bad, %llu commands, %.2f s wall, %.2f us/command, "
        "peak RSS %.1f MiB, disk model %.1f MiB\n",
        name, static_cast<int>(m.result), m.blocks, m.badBlocks,
        static_cast<unsigned long long>(m.commands), m.seconds,
        m.commands ? m.seconds * 1e6 / m.commands : 0.0, m.peakKiB / 1024.0,
        m.storedBytes / 1048576.0);
}

// A run of the erased 1 GiB disk must complete with no bad block and the whole disk as volume.
bool Checked(const char* name, const Measurement& m, std::uint32_t sectors) {
    const bool ok = m.result == FormatResult::CompleteReplug && m.blocks == 65536 &&
                    m.badBlocks == 0 && m.sectors == sectors;
    if (!ok) {
        std::printf(
            "%s: WRONG RESULT (expected result 8, 65536 blocks, 0 bad, %u sectors; got %u)\n", name,
            sectors, m.sectors);
    }
    return ok;
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
    // Eight banks of 32 groups of 250 blocks of 32 pages.
    const std::uint32_t gibSectors = 8u * 32u * 250u * 32u;
    bool ok = true;
    std::printf(
        "\n1 GiB disk (8 banks of 79h), no latency (targets: Quick < 5 s, Full < 30 s, "
        "peak < 100 MiB):\n");
    const Measurement quick = Format(gib, FormatMode::Quick, defaults);
    Report("Quick format", quick);
    ok = Checked("Quick format", quick, gibSectors) && ok;
    const Measurement full = Format(gib, FormatMode::Full, defaults);
    Report("Full format", full);
    ok = Checked("Full format", full, gibSectors) && ok;

    // The heaviest run: every page of every block written and read back by the ascending test,
    // on the machine of sim/examples/disk-1gib.txt, without a trace.
    FormatSettings ascending;
    ascending.AscendPtnTest = 1;
    const std::string description = BREVANT_SOURCE_DIR "/sim/examples/disk-1gib.txt";
    std::string error;
    std::unique_ptr<sim::SimBus> bus = sim::SimBus::Load(description, &error);
    if (!bus) {
        std::printf("%s\n", error.c_str());
        return 1;
    }
    const bool ownPeak = ResetPeak();
    const long baseKiB = PeakKiB();
    const Measurement asc = Format(*bus, FormatMode::Full, ascending);
    std::printf("\n%s, Full format with AscendPtnTest=1, no trace (target: peak < 16 MiB):\n",
                description.c_str());
    Report("Full format, ascending", asc);
    std::printf("  peak RSS of the run: %.1f MiB (%s; %.1f MiB held before it)%s\n",
                asc.peakKiB / 1024.0, ownPeak ? "this run's own" : "since the process began",
                baseKiB / 1024.0, asc.peakKiB < 16 * 1024 ? "" : "  ** OVER TARGET **");
    ok = Checked("Full format, ascending", asc, gibSectors) && ok;

    // The same run with the trace streamed to a file, as brevant --trace does it.
    bus = sim::SimBus::Load(description, &error);
    if (!bus || !bus->StreamTrace("/dev/null", &error)) {
        std::printf("%s\n", error.c_str());
        return 1;
    }
    ResetPeak();
    const Measurement traced = Format(*bus, FormatMode::Full, ascending);
    ok = bus->EndTraceStream() && ok;
    Report("  same, trace streamed", traced);
    ok = Checked("Full format, ascending, traced", traced, gibSectors) && ok;
    return ok ? 0 : 1;
}
