#include "cli/output_path.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

bool IsWritableOutputPath(const std::string& path, std::string* reason) {
    struct stat link = {};
    if (::lstat(path.c_str(), &link) != 0) {
        if (errno == ENOENT) return true;  // a new file (a missing folder fails when written)
        *reason = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info = {};
    if (::stat(path.c_str(), &info) != 0) {
        // A link that leads nowhere: writing would create whatever file it names.
        *reason = path + ": a symbolic link to " +
                  (S_ISLNK(link.st_mode) ? "nothing that exists" : std::strerror(errno)) +
                  "; nothing is written through it";
        return false;
    }
    if (S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode)) return true;
    std::error_code error;
    if (std::filesystem::canonical(path, error) == "/dev/null" && !error) return true;
    *reason = path + ": not a plain file; nothing is written to a device or folder";
    return false;
}
