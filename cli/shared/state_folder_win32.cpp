#include <cstdlib>

#include "cli/shared/state_folder.h"

// On Windows the program runs elevated as the user who started it: the state is that user's,
// and nobody else's to hand it to.
std::optional<FileOwner> InvokingUser() { return std::nullopt; }

std::string StateFolder() {
    // The user's local application data (not roaming: backups of one machine's sticks), in the
    // system's code page as every path of the program is.
    const char* local = std::getenv("LOCALAPPDATA");
    return local == nullptr || *local == '\0' ? "brevant-state" : std::string(local) + "\\Brevant";
}

std::string HistoryPath() { return StateFolder() + "\\history.jsonl"; }

std::string DefaultBackupFolder() { return StateFolder() + "\\cis"; }

std::optional<FileOwner> OwnerOfStateFiles(const std::string&) { return std::nullopt; }
