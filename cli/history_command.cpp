// brevant history [SERIAL]: the runs this machine remembers.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/history_store.h"
#include "cli/history_text.h"
#include "cli/state_folder.h"
#include "cli/stick_choice.h"

int RunHistoryCommand(const CliOptions& options) {
    const std::string path = HistoryPath();
    std::vector<HistoryEntry> runs;
    struct stat there = {};
    // Asking is no reason to make a history: none there is none recorded.
    if (::lstat(path.c_str(), &there) == 0) {
        std::string reason;
        auto store = HistoryStore::Open(path, &reason);
        if (!store || !store->Runs(options.argument, &runs, &reason)) {
            Complain(reason);
            return kExitFailed;
        }
    }
    if (options.json) {
        std::fputs(HistoryJson(runs).c_str(), stdout);
    } else if (runs.empty()) {
        std::printf("No runs%s recorded in %s\n",
                    options.argument.empty() ? "" : (" of " + options.argument).c_str(),
                    path.c_str());
    } else {
        std::fputs(HistoryTable(runs).c_str(), stdout);
    }
    std::fflush(stdout);
    return kExitComplete;
}
