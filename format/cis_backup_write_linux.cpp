#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "format/cis_backup.h"

namespace {

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool WriteCisBackup(const std::string& path, const CisBackup& backup, std::string* error) {
    const std::string temporary = path + ".part";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = temporary + ": " + std::strerror(errno);
        return false;
    }
    const bool written = WriteAll(fd, EncodeCisBackup(backup)) && ::fsync(fd) == 0;
    const int writeError = errno;
    ::close(fd);
    // link() puts the whole file in place under its name, and never over another file.
    if (!written || ::link(temporary.c_str(), path.c_str()) != 0) {
        *error = path + ": " + std::strerror(written ? errno : writeError);
        ::unlink(temporary.c_str());
        return false;
    }
    ::unlink(temporary.c_str());
    // The new name itself must survive a power cut too.
    const int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}
