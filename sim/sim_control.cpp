#include "sim/sim_control.h"

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
