#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "reader/media_type.h"
#include "reader/port_subset.h"
#include "reader/scsi_port.h"
#include "reader/units.h"

// One unit that discovery found, with the node it answered on.
struct FoundUnit {
    MediaType key = kMediaNone;
    std::string node;
    std::uint32_t place = 0;  // the machine port's place of the node
    std::array<std::uint8_t, kInquiryLength> inquiry{};
};

// The reader as the program reaches it: the transport opened over some places of the machine's
// port, and the units that discovery found there. The transport is process-wide, so only one
// session exists at a time.
class ReaderSession {
  public:
    ReaderSession(ScsiPort& port, std::vector<std::uint32_t> places);
    ~ReaderSession();
    ReaderSession(const ReaderSession&) = delete;
    ReaderSession& operator=(const ReaderSession&) = delete;

    // Opens the transport and runs discovery. False when the transport cannot start.
    bool Open();
    const std::vector<FoundUnit>& Units() const { return units_; }
    // Whether the units found are still there (one TEST UNIT READY to the first).
    bool StillPresent();

  private:
    PlaceSubsetPort port_;
    std::vector<FoundUnit> units_;
    bool open_ = false;
};

// The units of every place of the port, each place in a discovery of its own: every flash disk
// is then the first unit of its own discovery, as the format is made for. False when the
// transport cannot start.
bool FindAllUnits(ScsiPort& port, const std::vector<std::uint32_t>& places,
                  std::vector<FoundUnit>* units);

// "USB flash disk", "CompactFlash slot", ... for a unit key.
std::string MediumName(MediaType key);
// True for the keys of the controller's own flash disk (8 and above, 255 excepted).
bool IsFlashDiskKey(MediaType key);
