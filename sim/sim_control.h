#pragma once
#include <string>

// A folder through which a test (or a person) plugs and pulls the sticks of a running simulated
// machine: it writes a file, the machine acts on it and takes the file away.
//
//   unplug          pulls the whole machine (every reader)
//   replug          plugs everything back in
//   unplug-NAME     pulls one stick
//   replug-NAME     plugs one stick back in
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
};

}  // namespace sim
