#pragma once
#include <cstddef>
#include <string>
#include <vector>

// A folder through which a test (or a person) plugs and pulls the sticks of a running simulated
// machine: it writes a file, the machine acts on it and takes the file away.
//
//   unplug          pulls the whole machine (every reader)
//   replug          plugs everything back in
//   unplug-NAME     pulls one stick
//   replug-NAME     plugs one stick back in
//
//   pulled-NAME     keeps one stick pulled for as long as the file is there; it is plugged back
//                   in when the file goes. Left in place, so that several programs simulating
//                   the same machine (a station's workers) all see the same sticks.
//
// NAME is a reader's number as in the trace ("unplug-3" for "reader 3"), or a drive letter or
// node name of one of its units ("unplug-E", "replug-stick07"). The pulls of one look are done
// before its plugs. A file whose stick is not there is left in place.

namespace sim {

class SimBus;

class ControlFolder {
  public:
    ControlFolder(SimBus& bus, std::string folder) : bus_(bus), folder_(std::move(folder)) {}

    // Looks into the folder once and acts on what it finds.
    void Poll();

    const std::string& Folder() const { return folder_; }

  private:
    SimBus& bus_;
    std::string folder_;
    std::vector<std::size_t> heldOut_;  // readers a pulled-NAME file keeps out
};

}  // namespace sim
