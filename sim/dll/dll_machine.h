#pragma once
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "sim/sim_bus.h"
#include "sim/sim_flash_disk.h"

// The simulated machine behind the simulator's WNASPI32.DLL, one per Windows process.
//
// The machine comes from a description file: the one BREVANT_SIM_DISK names, else
// "brevant-sim.txt" beside the DLL. When BREVANT_SIM_OUT names a folder, the DLL leaves there
// what the tests look at after the process: the command trace, the logical disk image, the
// first bank's raw pages and a summary of the flash disk's state. BREVANT_SIM_STATE may name a
// file that keeps the first flash disk's NAND and logical sectors from one process to the next.
// BREVANT_SIM_CONTROL may name a folder in which a test pulls the stick (a file "unplug"),
// plugs it back in (a file "replug") or has the output folder written now (a file "dump") while
// the program runs. The next command looks at the folder; each file is taken away once done.
// "{pid}" in BREVANT_SIM_OUT stands for the process id, so that the processes of a station leave
// a folder each; every flash disk that was erased leaves its summary, image and first bank's
// pages there too, named by its number ("disk-3.txt", "disk-3.img", "bank0-3.pages").

namespace simdll {

// Names of the files in the output folder.
constexpr const char kTraceFile[] = "trace.txt";
constexpr const char kImageFile[] = "disk.img";
constexpr const char kBankPagesFile[] = "bank0.pages";
constexpr const char kSummaryFile[] = "disk.txt";
constexpr const char kErrorFile[] = "error.txt";
constexpr const char kDefaultDescription[] = "brevant-sim.txt";
constexpr const char kUnplugFile[] = "unplug";
constexpr const char kReplugFile[] = "replug";
constexpr const char kDumpFile[] = "dump";

// The flash disk's erase command, by which the output tells a disk that was formatted.
constexpr std::uint8_t kEraseOpcode = 0xF2;

// GetASPI32SupportInfo's answer when there is no machine: no host adapter (SS_NO_ADAPTERS).
constexpr std::uint32_t kNoAdapters = 0xE800;

class DllMachine {
  public:
    // Builds the machine. `dllFolder` is where the DLL was loaded from. A description that
    // cannot be read leaves no machine: the library then reports no host adapter, and the
    // reason goes to error.txt in the output folder.
    void Load(const std::string& dllFolder);

    // False when the description says the library is not there (its load must fail).
    bool LibraryPresent() const;
    std::uint32_t SupportInfo() const;
    // Runs one request block (32-bit Windows layout) and returns what SendASPI32Command does.
    std::uint32_t SendCommand(std::uint8_t* block);

    // Writes the output folder (and the state file); false when a write failed. Without
    // BREVANT_SIM_OUT only the state file is written.
    bool WriteOutput();

  private:
    bool WriteSummary(const std::string& path) const;
    bool WriteDiskSummary(sim::SimFlashDisk& disk, const std::string& path) const;
    static void WriteDiskLines(sim::SimFlashDisk* disk, std::ostream& out);
    // The disk's image and its first bank's pages, their names with `suffix` ("" or "-3").
    bool ExportDisk(sim::SimFlashDisk& disk, const std::string& suffix) const;
    void RestoreState();
    bool SaveState() const;
    void ReportError(const std::string& reason) const;
    void FollowControlFolder();

    std::unique_ptr<sim::SimBus> bus_;
    std::string outFolder_;
    std::string statePath_;
    std::string controlFolder_;
};

}  // namespace simdll
