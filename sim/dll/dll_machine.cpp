#include "sim/dll/dll_machine.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "sim/aspi_request.h"
#include "sim/sim_flash_disk.h"
#include "sim/sim_state.h"

namespace simdll {
namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// "disk.img" with "-3" before its extension.
std::string Named(const char* name, const std::string& suffix) {
    const std::string whole = name;
    const std::size_t dot = whole.find('.');
    return whole.substr(0, dot) + suffix + whole.substr(dot);
}

std::string InFolder(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    char last = folder.back();
    return folder + (last == '\\' || last == '/' ? "" : "\\") + name;
}

// The DLL runs in the 32-bit process that built the block: SRB_BufPointer is the buffer.
std::uint8_t* RawPointer(std::uint32_t address, std::uint32_t /*length*/) {
    static_assert(sizeof(void*) == sizeof(std::uint32_t), "the library is 32-bit only");
    return reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(address));
}

// The output folder need not exist yet: tests name a fresh one per process.
bool MakeFolder(const std::string& folder) {
    std::error_code failed;
    std::filesystem::create_directories(folder, failed);
    return !failed;
}

// "{pid}" in the output folder's name stands for the process id: each process of a program
// that starts others (a station and its workers) leaves a folder of its own.
std::string OfThisProcess(std::string folder) {
    const std::string mark = "{pid}";
    const std::size_t at = folder.find(mark);
    if (at != std::string::npos)
        folder.replace(at, mark.size(), std::to_string(GetCurrentProcessId()));
    return folder;
}

}  // namespace

void DllMachine::Load(const std::string& dllFolder) {
    outFolder_ = OfThisProcess(Env("BREVANT_SIM_OUT"));
    statePath_ = Env("BREVANT_SIM_STATE");
    controlFolder_ = Env("BREVANT_SIM_CONTROL");
    std::string description = Env("BREVANT_SIM_DISK");
    if (description.empty()) description = InFolder(dllFolder, kDefaultDescription);
    std::string error;
    bus_ = sim::SimBus::Load(description, &error);
    if (bus_ == nullptr) {
        ReportError(description + ": " + error);
        return;
    }
    // A real export table cannot lose an entry at run time; only the in-process face can
    // play a library without one.
    if (!bus_->AspiLibrary().missingEntry.empty()) {
        ReportError(description + ": missing-entry is ignored by WNASPI32.DLL");
    }
    // The trace is written to the output folder; without one it is not kept at all. A test that
    // waits for a command while the program runs has it written line by line as the commands
    // come instead (BREVANT_SIM_TRACE_STREAM), and none of it kept for the output folder.
    bus_->SetTraceEnabled(!outFolder_.empty());
    const std::string stream = Env("BREVANT_SIM_TRACE_STREAM");
    if (!stream.empty() && !bus_->StreamTrace(stream, &error, true)) ReportError(error);
    RestoreState();
}

bool DllMachine::LibraryPresent() const { return bus_ == nullptr || bus_->AspiLibrary().present; }

std::uint32_t DllMachine::SupportInfo() const {
    return bus_ != nullptr ? bus_->AspiSupportInfo() : kNoAdapters;
}

std::uint32_t DllMachine::SendCommand(std::uint8_t* block) {
    if (block == nullptr) return sim::kSsInvalidSrb;
    if (bus_ == nullptr) {
        block[srb::kStatus] = static_cast<std::uint8_t>(kNoAdapters >> 8);
        return block[srb::kStatus];
    }
    FollowControlFolder();
    return sim::ExecuteAspiRequest(*bus_, block, RawPointer);
}

// Looked at before every command, so that a pull takes effect with the very next one.
void DllMachine::FollowControlFolder() {
    if (controlFolder_.empty()) return;
    std::error_code failed;
    if (std::filesystem::remove(InFolder(controlFolder_, kUnplugFile), failed)) bus_->Unplug();
    if (std::filesystem::remove(InFolder(controlFolder_, kReplugFile), failed)) bus_->Replug();
    // Removed only once written, so that a test waiting for it to go reads whole files.
    const std::string dump = InFolder(controlFolder_, kDumpFile);
    if (std::filesystem::exists(dump, failed)) {
        WriteOutput();
        std::filesystem::remove(dump, failed);
    }
}

bool DllMachine::WriteOutput() {
    if (bus_ == nullptr) return false;
    bool written = statePath_.empty() || SaveState();
    if (outFolder_.empty()) return written;
    if (!MakeFolder(outFolder_)) return false;
    written = bus_->WriteTrace(InFolder(outFolder_, kTraceFile)) && written;
    written = WriteSummary(InFolder(outFolder_, kSummaryFile)) && written;
    sim::SimFlashDisk* disk = bus_->FlashDisk(0);
    if (disk != nullptr) written = ExportDisk(*disk, "") && written;
    // Every flash disk that was erased, by its number: a station's worker formats one of many.
    for (std::size_t n = 0; n < bus_->FlashDiskCount(); ++n) {
        sim::SimFlashDisk* each = bus_->FlashDisk(n);
        if (each == nullptr || each->CommandCount(kEraseOpcode) == 0) continue;
        const std::string suffix = "-" + std::to_string(n);
        written = ExportDisk(*each, suffix) && written;
        written =
            WriteDiskSummary(*each, InFolder(outFolder_, Named(kSummaryFile, suffix))) && written;
    }
    return written;
}

bool DllMachine::ExportDisk(sim::SimFlashDisk& disk, const std::string& suffix) const {
    bool written = disk.ExportImage(InFolder(outFolder_, Named(kImageFile, suffix)));
    if (disk.BankCount() > 0) {
        written = disk.ExportBankPages(0, 0, disk.Geometry(0).PagesPerBank(),
                                       InFolder(outFolder_, Named(kBankPagesFile, suffix))) &&
                  written;
    }
    return written;
}

// One "key=value" line each, so that a test can pick out what it checks.
bool DllMachine::WriteSummary(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "reader-commands=" << bus_->ReaderCommandCount() << "\n";
    out << "plugged=" << (bus_->Plugged() ? 1 : 0) << "\n";
    WriteDiskLines(bus_->FlashDisk(0), out);
    return static_cast<bool>(out);
}

bool DllMachine::WriteDiskSummary(sim::SimFlashDisk& disk, const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    WriteDiskLines(&disk, out);
    return static_cast<bool>(out);
}

void DllMachine::WriteDiskLines(sim::SimFlashDisk* disk, std::ostream& out) {
    if (disk == nullptr) {
        out << "flash-disk=none\n";
        return;
    }
    out << "flash-disk=1\n";
    out << "banks=" << disk->BankCount() << "\n";
    std::uint32_t cis = disk->CisPageNumber();
    out << "cis-page=" << (cis == sim::kNoPage ? std::string("none") : std::to_string(cis)) << "\n";
    out << "cis-sectors=" << disk->CisSectorTotal() << "\n";
    out << "sectors=" << disk->SectorCount() << "\n";
    out << "stopped=" << (disk->Stopped() ? 1 : 0) << "\n";
    out << "write-protected=" << (disk->WriteProtected() ? 1 : 0) << "\n";
    out << "vendor-fe=" << disk->LastVendorFEValue() << "\n";
    out << "vendor-c4-count=" << disk->CommandCount(0xC4) << "\n";
    out << "erase-count=" << disk->CommandCount(kEraseOpcode) << "\n";
    out << "mark-bad-count=" << disk->CommandCount(0xF1) << "\n";
    for (std::size_t bank = 0; bank < disk->BankCount(); ++bank) {
        std::uint32_t bad = 0;
        for (std::uint32_t block = 0; block < disk->Geometry(bank).blocksPerBank; ++block) {
            bad += disk->IsMarkedBad(bank, block) ? 1 : 0;
        }
        out << "bad-blocks-" << bank << "=" << bad << "\n";
    }
}

bool DllMachine::SaveState() const {
    sim::SimFlashDisk* disk = bus_->FlashDisk(0);
    return disk == nullptr || sim::SaveDiskState(*disk, statePath_);
}

// A state file that does not fit the described disk is reported and left alone: the disk then
// starts as described.
void DllMachine::RestoreState() {
    sim::SimFlashDisk* disk = bus_->FlashDisk(0);
    if (statePath_.empty() || disk == nullptr) return;
    std::string error;
    if (!sim::LoadDiskState(*disk, statePath_, &error)) ReportError(error);
}

void DllMachine::ReportError(const std::string& reason) const {
    if (outFolder_.empty() || !MakeFolder(outFolder_)) return;
    std::ofstream out(InFolder(outFolder_, kErrorFile), std::ios::binary | std::ios::app);
    out << reason << "\n";
}

}  // namespace simdll
