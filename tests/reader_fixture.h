#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "reader/byte_order.h"
#include "reader/reader.h"
#include "reader/reader_unit.h"
#include "reader/units.h"
#include "reader/win32/windows_back_ends.h"
#include "sim/sim_bus.h"
#include "sim/sim_device.h"
#include "sim/sim_os_layer.h"

// A reader over the Windows back-ends, with a simulated machine as their OS layer.
class ReaderTest : public ::testing::Test {
  protected:
    ReaderTest() {
        bus.SetTraceEnabled(true);  // the tests read what was sent
    }

    // Pass-through machines have no ASPI library.
    void WithoutAspi() { bus.MutableAspiLibrary().present = false; }

    // A reader at an ASPI address whose LUNs carry these medium codes; a letter per LUN
    // (for the drive walk) when `letters` is given.
    sim::SimDevice& AddReader(std::uint8_t adapter, std::uint8_t target,
                              const std::vector<std::string>& codes,
                              const std::string& letters = "") {
        sim::SimDevice& device = bus.AddReader(adapter, target);
        for (std::size_t i = 0; i < codes.size(); ++i) {
            sim::SimUnit& unit = device.AddUnit(codes[i]);
            if (i < letters.size()) unit.SetDriveLetter(letters[i]);
            if (unit.FlashDisk() != nullptr) unit.FlashDisk()->AddBank(0x75);
        }
        return device;
    }

    // Every command the devices received whose device name starts with `prefix`.
    std::vector<sim::TraceEntry> TraceOf(const std::string& prefix) const {
        std::vector<sim::TraceEntry> found;
        for (const sim::TraceEntry& entry : bus.Trace()) {
            if (entry.device.compare(0, prefix.size(), prefix) == 0) found.push_back(entry);
        }
        return found;
    }

    std::vector<std::uint8_t> Cdb(const sim::TraceEntry& entry) const {
        return std::vector<std::uint8_t>(entry.cdb, entry.cdb + 12);
    }

    static std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
        std::vector<std::uint8_t> bytes;
        for (int v : values) bytes.push_back(static_cast<std::uint8_t>(v));
        bytes.resize(12, 0);
        return bytes;
    }

    sim::SimBus bus;
    sim::SimOsLayer layer{bus};
    // The reader owns its back-ends; the tests look into their state through backEnds.
    std::unique_ptr<WindowsBackEnds> ownBackEnds = std::make_unique<WindowsBackEnds>(layer);
    WindowsBackEnds& backEnds = *ownBackEnds;
    Reader reader{std::move(ownBackEnds)};
};
