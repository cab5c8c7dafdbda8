#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/shared/held_stick.h"
#include "reader/media_type.h"
#include "reader/port_subset.h"
#include "reader/reader.h"
#include "reader/scsi_port.h"
#include "reader/units.h"

// One unit that discovery found, with the node it answered on.
struct FoundUnit {
    MediaType key = kMediaNone;
    std::string node;
    std::uint32_t place = 0;  // the machine port's place of the node
    std::array<std::uint8_t, kInquiryLength> inquiry{};
};

// A reader of its own over some places of the machine's port: its transport opened and its units
// discovered once, and, for a run, the claim that keeps its stick from the rest of the machine
// (held from before the run's first command until the reader has sent its last). Sessions share
// nothing, so several may be open at a time.
class ReaderSession {
  public:
    ReaderSession(ScsiPort& port, std::vector<std::uint32_t> places);
    ReaderSession(const ReaderSession&) = delete;
    ReaderSession& operator=(const ReaderSession&) = delete;

    // Opens the transport and runs discovery. False when the transport cannot start.
    bool Open();
    const std::vector<FoundUnit>& Units() const { return units_; }
    // Whether the units found are still there (one TEST UNIT READY to the first).
    bool StillPresent();
    // The session's reader, for the commands to its units.
    Reader& GetReader() { return reader_; }

    // Keeps the claim on the session's stick for as long as the session is open.
    void Keep(std::unique_ptr<HeldStick> claim) { claim_ = std::move(claim); }
    // Ends the session before its time: the reader's transport closed, then the claim given up
    // (the disk driver bound to the stick again unless `bindDriver` is false: a soft re-plug
    // follows, which makes a new device of the stick).
    void End(bool bindDriver);

  private:
    std::unique_ptr<HeldStick> claim_;  // declared first: it is given up after the reader closes
    PlaceSubsetPort port_;
    Reader reader_;
    std::vector<FoundUnit> units_;
};

// A session over each of the places, each place in a discovery of its own: every flash disk is
// then the first unit of its own discovery, as the format is made for. The sessions whose
// discovery found a unit are kept, in the order of the places. False when the transport cannot
// start.
bool OpenSessions(ScsiPort& port, const std::vector<std::uint32_t>& places,
                  std::vector<std::unique_ptr<ReaderSession>>* sessions);

// "USB flash disk", "CompactFlash slot", ... for a unit key.
std::string MediumName(MediaType key);
// True for the keys of the controller's own flash disk (8 and above, 255 excepted).
bool IsFlashDiskKey(MediaType key);
