#include "cli/output_path.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

bool IsWritableOutputPath(const std::string& path, std::string* reason) {
    struct stat info = {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) return true;  // a new file (a missing folder fails when written)
        *reason = path + ": cannot be looked at";
        return false;
    }
    if (S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode)) return true;
    std::error_code error;
    if (std::filesystem::canonical(path, error) == "/dev/null" && !error) return true;
    *reason = path + ": not a plain file; nothing is written to a device or folder";
    return false;
}
