#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "cli/shared/state_folder.h"

namespace {

// A user or group id as sudo writes it; false for anything else.
bool ParseId(const char* text, unsigned long* id) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || text[0] == '-') return false;
    *id = value;
    return true;
}

std::string HomeOf(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        found->pw_dir == nullptr || found->pw_dir[0] != '/') {
        return std::string();
    }
    return found->pw_dir;
}

}  // namespace

std::optional<FileOwner> InvokingUser() {
    if (::geteuid() != 0) return std::nullopt;
    unsigned long uid = 0;
    unsigned long gid = 0;
    if (!ParseId(std::getenv("SUDO_UID"), &uid) || uid == 0) return std::nullopt;
    if (!ParseId(std::getenv("SUDO_GID"), &gid)) gid = uid;
    return FileOwner{static_cast<unsigned>(uid), static_cast<unsigned>(gid)};
}

std::string StateFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/brevant";
    std::string home;
    if (const auto user = InvokingUser()) {
        home = HomeOf(user->uid);
    } else if (const char* own = std::getenv("HOME"); own != nullptr && own[0] == '/') {
        home = own;
    }
    // No home to speak of: beside the program's work.
    return home.empty() ? "brevant-state" : home + "/.local/state/brevant";
}

std::string HistoryPath() { return StateFolder() + "/history.sqlite3"; }

std::string DefaultBackupFolder() { return StateFolder() + "/cis"; }

std::optional<FileOwner> OwnerOfStateFiles(const std::string& folder) {
    const std::string state = StateFolder();
    const bool inside = folder == state || folder.compare(0, state.size() + 1, state + "/") == 0;
    return inside ? InvokingUser() : std::nullopt;
}
