#include "sim/sim_flash_disk.h"

#include "sim/disk/disk_exports.h"
#include "sim/firmware/cis_map.h"
#include "sim/firmware/controller.h"
#include "sim/flash/flash_array.h"

namespace sim {

struct SimFlashDisk::Impl {
    FlashArray flash;
    SectorStore sectors;
    Controller firmware{flash, sectors};
};

SimFlashDisk::SimFlashDisk() : impl_(new Impl) {}
SimFlashDisk::~SimFlashDisk() = default;

// --- Banks ---------------------------------------------------------------------------------------

void SimFlashDisk::AddBank(std::uint8_t deviceCode) { impl_->flash.AddBank(deviceCode); }
std::size_t SimFlashDisk::BankCount() const { return impl_->flash.BankCount(); }

std::uint8_t SimFlashDisk::DeviceCode(std::size_t bank) const {
    return impl_->flash.Geometry(bank).deviceCode;
}

const BankGeometry& SimFlashDisk::Geometry(std::size_t bank) const {
    return impl_->flash.Geometry(bank);
}

void SimFlashDisk::OverrideReportedBankCount(std::uint8_t count) {
    impl_->firmware.OverrideReportedBankCount(count);
}

std::uint8_t SimFlashDisk::ReportedBankCount() const { return impl_->firmware.ReportedBankCount(); }
std::uint8_t SimFlashDisk::SelectedBank() const { return impl_->firmware.SelectedBank(); }

// --- Raw pages -----------------------------------------------------------------------------------

PageBytes SimFlashDisk::ReadPage(std::size_t bank, std::uint32_t page) const {
    PageBytes image;
    const FlashArray& flash = impl_->flash;
    if (bank >= flash.BankCount() || page >= flash.Geometry(bank).PagesPerBank()) {
        image.fill(0);
        return image;
    }
    flash.Read(bank, page, 0, kPageImageBytes, image.data());
    return image;
}

void SimFlashDisk::ProgramPageRaw(std::size_t bank, std::uint32_t page,
                                  const std::uint8_t* image528) {
    impl_->flash.ProgramRaw(bank, page, image528);
}

void SimFlashDisk::FillBlockRaw(std::size_t bank, std::uint32_t block, std::uint8_t value) {
    impl_->flash.FillBlockRaw(bank, block, value);
}

bool SimFlashDisk::IsMarkedBad(std::size_t bank, std::uint32_t block) const {
    const FlashArray& flash = impl_->flash;
    if (bank >= flash.BankCount() || block >= flash.Geometry(bank).blocksPerBank) return false;
    return flash.Marked(bank, block);
}

// --- Faults per block ----------------------------------------------------------------------------

void SimFlashDisk::SetFactoryBad(std::size_t bank, std::uint32_t block) {
    impl_->flash.SetFactoryBad(bank, block);
}

void SimFlashDisk::SetEraseFails(std::size_t bank, std::uint32_t block, bool fails) {
    if (fails) {
        SetEraseFailsAfter(bank, block, 0);
    } else {
        impl_->flash.Faults(bank, block).ClearEraseFails();
    }
}

void SimFlashDisk::SetEraseFailsAfter(std::size_t bank, std::uint32_t block, std::uint32_t erases) {
    impl_->flash.Faults(bank, block).SetEraseFailsAfter(erases);
}

void SimFlashDisk::SetProgramFailsAfter(std::size_t bank, std::uint32_t block,
                                        std::uint32_t programs) {
    impl_->flash.Faults(bank, block).SetProgramFailsAfter(programs);
}

void SimFlashDisk::SetBitFlips(std::size_t bank, std::uint32_t block, std::uint32_t budget,
                               std::uint32_t seed) {
    impl_->flash.Faults(bank, block).SetBitFlips(budget, seed, block);
}

std::uint32_t SimFlashDisk::EraseCount(std::size_t bank, std::uint32_t block) const {
    return impl_->flash.EraseCount(bank, block);
}

std::uint32_t SimFlashDisk::BitFlipsLeft(std::size_t bank, std::uint32_t block) const {
    return impl_->flash.BitFlipsLeft(bank, block);
}

void SimFlashDisk::SetStuckBits(std::size_t bank, std::uint32_t block, StuckBits bits) {
    BlockFaults& faults = impl_->flash.Faults(bank, block);
    bits.pageInBlock =
        static_cast<std::uint8_t>(bits.pageInBlock % impl_->flash.Geometry(bank).pagesPerBlock);
    bits.byteOffset = static_cast<std::uint16_t>(bits.byteOffset % kPageImageBytes);
    faults.SetStuckBits(bits);
}

void SimFlashDisk::SetMarkDoesNotStick(std::size_t bank, std::uint32_t block, bool doesNotStick) {
    impl_->flash.Faults(bank, block).SetMarkDoesNotStick(doesNotStick);
}

// --- Disk-wide conditions ------------------------------------------------------------------------

void SimFlashDisk::SetWriteProtected(bool on) { impl_->firmware.SetWriteProtected(on); }
bool SimFlashDisk::WriteProtected() const { return impl_->firmware.WriteProtected(); }
void SimFlashDisk::SetNotReady(bool on) { impl_->firmware.SetNotReady(on); }
bool SimFlashDisk::NotReady() const { return impl_->firmware.NotReady(); }
void SimFlashDisk::RaiseUnitAttention() { impl_->firmware.RaiseUnitAttention(); }
bool SimFlashDisk::UnitAttentionPending() const { return impl_->firmware.UnitAttentionPending(); }
bool SimFlashDisk::Stopped() const { return impl_->firmware.Stopped(); }
void SimFlashDisk::PowerCycle() { impl_->firmware.PowerCycle(); }
void SimFlashDisk::Reset() { impl_->firmware.Reset(); }

// --- CIS page and logical disk -------------------------------------------------------------------

std::uint32_t SimFlashDisk::CisPageNumber() const { return FindCisPage(impl_->flash); }
std::uint32_t SimFlashDisk::CisSectorTotal() const { return sim::CisSectorTotal(impl_->flash); }
std::uint32_t SimFlashDisk::SectorCount() const { return impl_->sectors.Count(); }
void SimFlashDisk::SetSectorCount(std::uint32_t sectors) { impl_->sectors.Resize(sectors); }

bool SimFlashDisk::ReadSector(std::uint32_t lba, std::uint8_t* out512) const {
    if (lba >= impl_->sectors.Count()) return false;
    impl_->sectors.Read(lba, out512);
    return true;
}

bool SimFlashDisk::WriteSector(std::uint32_t lba, const std::uint8_t* in512) {
    if (lba >= impl_->sectors.Count()) return false;
    impl_->sectors.Write(lba, in512);
    return true;
}

bool SimFlashDisk::ExportImage(const std::string& path, std::string* error) const {
    return ExportSectors(impl_->sectors, path, error);
}

bool SimFlashDisk::ExportImage(std::ostream& out, std::string* error) const {
    return ExportSectors(impl_->sectors, out, error);
}

bool SimFlashDisk::ExportBankPages(std::size_t bank, std::uint32_t firstPage, std::uint32_t count,
                                   const std::string& path, std::string* error) const {
    return ExportPages(impl_->flash, bank, firstPage, count, path, error);
}

bool SimFlashDisk::ExportBankPages(std::size_t bank, std::uint32_t firstPage, std::uint32_t count,
                                   std::ostream& out, std::string* error) const {
    return ExportPages(impl_->flash, bank, firstPage, count, out, error);
}

// --- Commands ------------------------------------------------------------------------------------

Outcome SimFlashDisk::Execute(const std::uint8_t cdb[12], Direction direction, std::uint8_t* buffer,
                              std::uint32_t length) {
    return impl_->firmware.Execute(cdb, direction, buffer, length);
}

SenseBytes SimFlashDisk::PendingSense() const { return FormatSense(impl_->firmware.Sense()); }
SenseCode SimFlashDisk::PendingSenseCode() const { return impl_->firmware.Sense(); }

std::uint64_t SimFlashDisk::CommandCount(std::uint8_t opcode) const {
    return impl_->firmware.CommandCount(opcode);
}

int SimFlashDisk::LastVendorFEValue() const { return impl_->firmware.LastVendorFEValue(); }

std::size_t SimFlashDisk::StoredBytes() const {
    return impl_->sectors.StoredBytes() + impl_->flash.StoredBytes();
}

}  // namespace sim
