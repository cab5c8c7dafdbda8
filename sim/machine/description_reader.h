#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>
#include <utility>

#include "sim/machine/description_words.h"
#include "sim/sim_bus.h"

// Builds a machine from the lines of its description, one line at a time, into a bus. The lines
// of the machine and its devices (ASPI, pass-through, readers, units, foreign drives, link
// faults, plugs) are read in description_reader.cpp; those of a flash disk (banks, block faults,
// conditions, CIS page, vendor page, logical size) in description_disk.cpp. What a disk asks of
// its pages is written once its lines are over, so that the order of its lines does not matter.

namespace sim {

class SimDevice;
class SimFlashDisk;
class SimUnit;

namespace description {

class DescriptionReader {
  public:
    explicit DescriptionReader(SimBus& bus) : bus_(bus) {}

    void Apply(const Line& line);
    void Finish() { FinishDisk(); }

  private:
    // The machine and its devices.
    void CheckOptions(const Line& line, std::initializer_list<const char*> allowed,
                      std::size_t maxWords);
    void SetDrive(SimUnit& unit, const std::string& text);
    void SetNode(SimUnit& unit, const std::string& text);
    SimLink& Link();
    void LinkFault(const Line& line);
    void Schedule(const Line& line);
    void Aspi(const Line& line);
    void Reader(const Line& line);
    void Unit(const Line& line);
    void Foreign(const Line& line);

    // The flash disk of the last unit line. False for a keyword that is not a disk's.
    bool DiskLine(const Line& line);
    SimFlashDisk& Disk(const Line& line);
    std::pair<std::size_t, std::uint32_t> BlockRef(SimFlashDisk& disk, const std::string& text);
    void Banks(const Line& line);
    void BlockFaultLine(const Line& line);
    void Cis(const Line& line);
    void FinishDisk();

    SimBus& bus_;
    SimDevice* reader_ = nullptr;
    // The reader whose lines these are (SimBus::kNoReader before the first: the machine's).
    std::size_t lastReader_ = SimBus::kNoReader;
    std::set<std::string> nodes_;
    SimUnit* diskUnit_ = nullptr;
    int diskLine_ = 0;
    int vendorLine_ = 0;
    int cisLine_ = 0;
    std::set<char> letters_;
    std::set<std::pair<int, int>> addresses_;
    std::uint64_t flashBlocks_ = 0;  // of all disks so far

    // What the current disk asked for; applied once its lines are over.
    bool cisWanted_ = false;
    std::uint32_t cisPage_ = 0;
    bool cisSectorsGiven_ = false;
    std::uint32_t cisSectors_ = 0;
    bool vendorWanted_ = false;
    std::string vendorText_;
    bool logicalGiven_ = false;
    std::uint32_t logicalSectors_ = 0;
};

}  // namespace description
}  // namespace sim
