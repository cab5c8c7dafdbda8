// brevant history [SERIAL]: the runs this machine remembers.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/commands/commands.h"
#include "cli/output/history_store.h"
#include "cli/output/history_text.h"
#include "cli/shared/exit_codes.h"
#include "cli/shared/messages.h"
#include "cli/shared/state_folder.h"

int RunHistoryCommand(const CliOptions& options) {
    const std::string path = HistoryPath();
    std::vector<HistoryEntry> runs;
    // Asking is no reason to make a history: none there is none recorded.
    std::error_code looked;
    if (std::filesystem::symlink_status(path, looked).type() !=
        std::filesystem::file_type::not_found) {
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
