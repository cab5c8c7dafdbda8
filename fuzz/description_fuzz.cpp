// Arbitrary text as a description of a simulated machine: it builds a machine or is refused with
// one line that names the line at fault, and a machine it builds answers a few questions on
// every unit (INQUIRY, TEST UNIT READY, READ CAPACITY, the bank count and the CIS page number)
// without a crash, with the faults it describes but without their waiting.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "sim/sim_bus.h"
#include "sim/sim_device.h"
#include "sim/sim_flash_disk.h"

namespace {

void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "description_fuzz: %s\n", what);
    std::abort();
}

void Ask(sim::SimBus& bus, sim::SimDevice& device, std::uint8_t lun) {
    std::uint8_t reply[64] = {};
    const std::uint8_t inquiry[12] = {0x12, 0, 0, 0, 56};
    const std::uint8_t testUnitReady[12] = {};
    const std::uint8_t readCapacity[12] = {0x25, 0, 0, 0, 0x08};
    const std::uint8_t requestSense[12] = {0x03, 0, 0, 0, 18};
    const std::uint8_t bankCount[12] = {0xC2};
    const std::uint8_t cisPage[12] = {0xC3};
    bus.ExecuteUnit(device, lun, inquiry, sim::Direction::In, reply, 56);
    bus.ExecuteUnit(device, lun, testUnitReady, sim::Direction::None, nullptr, 0);
    bus.ExecuteUnit(device, lun, requestSense, sim::Direction::In, reply, 18);
    bus.ExecuteUnit(device, lun, readCapacity, sim::Direction::In, reply, 8);
    bus.ExecuteUnit(device, lun, bankCount, sim::Direction::In, reply, 1);
    bus.ExecuteUnit(device, lun, cisPage, sim::Direction::In, reply, 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const std::unique_ptr<sim::SimBus> bus = sim::SimBus::Parse(text, &error);
    if (!bus) {
        Require(!error.empty(), "a refusal without a reason");
        Require(error.find('\n') == std::string::npos, "a reason of more than one line");
        Require(error.compare(0, 5, "line ") == 0, "a reason that names no line");
        Require(error.size() <= size + 200, "a reason longer than the text it is about");
        return 0;
    }
    Require(error.empty(), "a machine and a reason");
    // The described pauses are for people watching; the questions need none of them.
    bus->OverrideLatencyMicroseconds(0);
    for (std::size_t d = 0; d < bus->DeviceCount(); ++d) {
        sim::SimDevice& device = *bus->Device(d);
        Require(device.UnitCount() >= 1 || device.IsReader(), "a foreign drive without its unit");
        Require(device.UnitCount() <= 8, "a reader with more than eight units");
        for (std::size_t lun = 0; lun < device.UnitCount(); ++lun) {
            Ask(*bus, device, static_cast<std::uint8_t>(lun));
        }
    }
    for (std::size_t i = 0; i < bus->FlashDiskCount(); ++i) {
        const sim::SimFlashDisk& disk = *bus->FlashDisk(i);
        Require(disk.BankCount() <= 255, "a disk with more banks than its count can say");
        const std::uint32_t cis = disk.CisPageNumber();
        Require(
            cis == sim::kNoPage || (disk.BankCount() > 0 && cis < disk.Geometry(0).PagesPerBank()),
            "a CIS page outside bank 0");
    }
    return 0;
}
