#include "cli/backup_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace fs = std::filesystem;

std::string DefaultBackupFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/brevant/cis";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state/brevant/cis";
    return "brevant-cis";  // no home to speak of: beside the program's work
}

bool MakeBackupFolder(const std::string& folder, std::string* error) {
    std::error_code failure;
    fs::create_directories(folder, failure);
    if (failure) {
        *error = folder + ": " + failure.message();
        return false;
    }
    struct stat info = {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *error = folder + ": not a folder";
        return false;
    }
    if ((info.st_mode & 077) != 0 && info.st_uid == ::geteuid()) ::chmod(folder.c_str(), 0700);
    return true;
}

std::string BackupFileName(const std::string& folder, const std::string& stick, long long when) {
    std::string name;
    for (char c : stick) {
        const bool plain = std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_';
        name += plain ? c : '_';
    }
    while (!name.empty() && name.front() == '_') name.erase(0, 1);
    if (name.empty()) name = "stick";
    const std::time_t at = static_cast<std::time_t>(when);
    std::tm local{};
    localtime_r(&at, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = folder + "/" + name.substr(0, 64) + "-" + stamp;
    std::string path = base + ".cis";
    for (int n = 2; fs::exists(path); ++n) path = base + "-" + std::to_string(n) + ".cis";
    return path;
}
