#include "sim/machine/control_folder.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "sim/sim_bus.h"

namespace sim {

namespace fs = std::filesystem;

void ControlFolder::Poll() {
    std::error_code failed;
    std::vector<std::string> names;
    for (fs::directory_iterator it(folder_, failed), end; !failed && it != end;
         it.increment(failed)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    // The sticks held out by a file: pulled while it is there, back once it is gone.
    const std::string held = "pulled-";
    std::vector<std::size_t> heldNow;
    for (const std::string& name : names) {
        if (name.compare(0, held.size(), held) != 0) continue;
        const std::size_t reader = bus_.ReaderNamed(name.substr(held.size()));
        if (reader != SimBus::kNoReader) heldNow.push_back(reader);
    }
    for (std::size_t reader : heldNow) {
        if (std::find(heldOut_.begin(), heldOut_.end(), reader) == heldOut_.end()) {
            bus_.UnplugReader(reader);
        }
    }
    for (std::size_t reader : heldOut_) {
        if (std::find(heldNow.begin(), heldNow.end(), reader) == heldNow.end()) {
            bus_.ReplugReader(reader);
        }
    }
    heldOut_ = heldNow;
    for (const bool plugIn : {false, true}) {
        const std::string verb = plugIn ? "replug" : "unplug";
        for (const std::string& name : names) {
            if (name == verb) {
                if (plugIn) {
                    bus_.Replug();
                } else {
                    bus_.Unplug();
                }
            } else if (name.size() > verb.size() + 1 && name.compare(0, verb.size(), verb) == 0 &&
                       name[verb.size()] == '-') {
                const std::size_t reader = bus_.ReaderNamed(name.substr(verb.size() + 1));
                if (reader == SimBus::kNoReader) continue;
                if (plugIn) {
                    bus_.ReplugReader(reader);
                } else {
                    bus_.UnplugReader(reader);
                }
            } else {
                continue;
            }
            // Taken away once done, so that whoever wrote it can wait for it to go.
            fs::remove(fs::path(folder_) / name, failed);
        }
    }
}

}  // namespace sim
