#include "cli/backup_folder.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <ctime>

#include "cli/output_file.h"

std::string DefaultBackupFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/brevant/cis";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state/brevant/cis";
    return "brevant-cis";  // no home to speak of: beside the program's work
}

BackupFolder::~BackupFolder() {
    if (fd_ >= 0) ::close(fd_);
}

bool BackupFolder::Open(const std::string& path, std::string* reason) {
    if (fd_ >= 0) ::close(fd_);
    path_ = path;
    fd_ = -1;
    if (!MakeFolders(path, reason)) return false;
    fd_ = OpenOutputFolder(path, reason);
    return fd_ >= 0;
}

bool BackupFolder::Keep(const CisBackup& pages, const std::string& stick, long long when,
                        std::string* path, std::string* reason) {
    if (fd_ < 0) {
        *reason = path_ + ": the folder was not opened";
        return false;
    }
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
    const std::string base = name.substr(0, 64) + "-" + stamp;
    auto nameFor = [&base](int n) {
        return base + (n == 1 ? std::string() : "-" + std::to_string(n)) + ".cis";
    };
    std::string file;
    const std::string folder = path_ == "/" ? "" : path_;
    if (!WriteNewFile(fd_, nameFor, EncodeCisBackup(pages), &file, reason)) {
        *reason = folder + "/" + *reason;
        return false;
    }
    *path = folder + "/" + file;
    return true;
}
