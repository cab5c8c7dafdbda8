#include "cli/shared/backup_folder.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <ctime>

#include "cli/shared/local_time.h"
#include "cli/shared/output_file.h"
#include "cli/shared/state_folder.h"

std::string BackupFileBase(const std::string& stick, long long when) {
    std::string name;
    for (char c : stick) {
        const bool plain = std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_';
        name += plain ? c : '_';
    }
    while (!name.empty() && name.front() == '_') name.erase(0, 1);
    if (name.empty()) name = "stick";
    const std::time_t at = static_cast<std::time_t>(when);
    const std::tm local = LocalTime(at);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return name.substr(0, 64) + "-" + stamp;
}

BackupFolder::~BackupFolder() {
    if (fd_ >= 0) ::close(fd_);
}

bool BackupFolder::Open(const std::string& path, std::string* reason) {
    if (fd_ >= 0) ::close(fd_);
    path_ = path;
    fd_ = -1;
    owner_ = OwnerOfStateFiles(path);
    if (!MakeFolders(path, reason, owner_)) return false;
    fd_ = OpenOutputFolder(path, reason);
    return fd_ >= 0;
}

bool BackupFolder::Keep(const CisBackup& pages, const std::string& stick, long long when,
                        std::string* path, std::string* reason) {
    if (fd_ < 0) {
        *reason = path_ + ": the folder was not opened";
        return false;
    }
    const std::string base = BackupFileBase(stick, when);
    auto nameFor = [&base](int n) {
        return base + (n == 1 ? std::string() : "-" + std::to_string(n)) + ".cis";
    };
    std::string file;
    if (!WriteNewFile(fd_, nameFor, EncodeCisBackup(pages), &file, reason, owner_)) {
        *reason = PathInFolder(path_, *reason);
        return false;
    }
    *path = PathInFolder(path_, file);
    return true;
}
