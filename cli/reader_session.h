#pragma once
#include <string>
#include <vector>

#include "reader/media_type.h"
#include "reader/sgio.h"
#include "reader/sgio_os_layer.h"

// One unit that discovery found, with the node it answered on.
struct FoundUnit {
    MediaType key = kMediaNone;
    std::string node;
};

// The reader as the program reaches it on Linux: the SG_IO OS layer over a list of nodes (real
// ones, or those of the simulated machine), the transport opened over that layer and the units
// that discovery found. The transport is process-wide, so only one session exists at a time.
class ReaderSession {
  public:
    ReaderSession(SgDeviceIo& io, std::vector<std::string> nodes);
    ~ReaderSession();
    ReaderSession(const ReaderSession&) = delete;
    ReaderSession& operator=(const ReaderSession&) = delete;

    // Opens the transport and runs discovery. False when the transport cannot start.
    bool Open();
    const std::vector<FoundUnit>& Units() const { return units_; }
    // Whether the units found are still there (one TEST UNIT READY to the first).
    bool StillPresent();
    const SgioOsLayer& Layer() const { return layer_; }

  private:
    SgioOsLayer layer_;
    std::vector<FoundUnit> units_;
    bool open_ = false;
};

// "USB flash disk", "CompactFlash slot", ... for a unit key.
std::string MediumName(MediaType key);
// True for the keys of the controller's own flash disk (8 and above, 255 excepted).
bool IsFlashDiskKey(MediaType key);
