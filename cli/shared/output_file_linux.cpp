#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>

#include "cli/shared/output_file.h"
#include "cli/shared/output_refusal.h"

namespace {

// Less room than this on a file system is no room: a report, a map or a log is a few KiB.
constexpr std::uint64_t kMinFreeBytes = 64 * 1024;

std::string SystemReason(int error) { return std::strerror(error); }

// "a/b/c" is the name "c" in the folder "a/b"; "c" is in "."; "/c" in "/". False for a path
// that names no file in a folder ("", "a/", ".", "..").
bool Split(const std::string& path, std::string* folder, std::string* name) {
    const std::size_t slash = path.find_last_of('/');
    *name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (slash == std::string::npos) {
        *folder = ".";
    } else {
        *folder = slash == 0 ? "/" : path.substr(0, slash);
    }
    return !name->empty() && *name != "." && *name != "..";
}

// The folder, opened without following a link at its last step; -1 with the reason.
int OpenFolder(const std::string& folder, const std::string& named, std::string* reason) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) return fd;
    const int error = errno;
    struct stat info = {};
    std::string why;
    if (error == ELOOP ||
        (error == ENOTDIR && ::lstat(folder.c_str(), &info) == 0 && S_ISLNK(info.st_mode))) {
        why = "a symbolic link (or a loop of them); name the folder itself";
    } else if (error == ENOTDIR) {
        why = "not a folder";
    } else {
        why = SystemReason(error);
    }
    *reason = named + ": " + (named == folder ? "" : "its folder " + folder + ": ") + why;
    return -1;
}

bool IsNullDevice(const struct stat& info) {
    return S_ISCHR(info.st_mode) && info.st_rdev == makedev(1, 3);
}

// What a name in a folder is, without following it.
Found Look(int folder, const std::string& name, struct stat* info, int* error) {
    if (::fstatat(folder, name.c_str(), info, AT_SYMLINK_NOFOLLOW) != 0) {
        *error = errno;
        return errno == ENOENT ? Found::Nothing : Found::Unknown;
    }
    if (S_ISREG(info->st_mode)) return Found::PlainFile;
    if (S_ISLNK(info->st_mode)) return Found::Link;
    if (S_ISDIR(info->st_mode)) return Found::Folder;
    return IsNullDevice(*info) ? Found::NullDevice : Found::Other;
}

// The reason a name cannot be written, or empty when it can (Refusal).
std::string RefusalOf(Found found, const struct stat& info, int error, OutputUse use, bool links,
                      const std::string& path) {
    return Refusal(found, info.st_nlink > 1, SystemReason(error), use, links, path);
}

// Whether the open folder's file system has room left. Empty, or the reason.
std::string SpaceIn(int folder, const std::string& named) {
    struct statvfs space = {};
    if (::fstatvfs(folder, &space) != 0 || space.f_blocks == 0) return std::string();
    // Root may use the blocks kept back for it.
    const std::uint64_t blocks = ::geteuid() == 0 ? space.f_bfree : space.f_bavail;
    const std::uint64_t bytes = blocks * space.f_frsize;
    if (bytes < kMinFreeBytes || (space.f_files != 0 && space.f_favail == 0)) {
        return named + ": its file system is full (" + std::to_string(bytes / 1024) + " KiB free)";
    }
    return std::string();
}

// Whether new files can be made in the open folder. Empty, or the reason.
std::string RoomIn(int folder, const std::string& named) {
    if (::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0) {
        return named + ": cannot write there: " + SystemReason(errno);
    }
    return SpaceIn(folder, named);
}

bool WriteAll(int fd, const std::string& bytes, int* error) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = n < 0 ? errno : EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A new file beside the one it will replace, under a name nobody else uses (nor can guess and
// take first); -1 when none can be made.
int MakeTemporary(int folder, std::string* name, int* error, mode_t mode = 0666) {
    static std::mt19937_64 random(static_cast<std::uint64_t>(
        std::chrono::steady_clock::now().time_since_epoch().count() ^ ::getpid()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        char unique[24];
        std::snprintf(unique, sizeof unique, "%016llx", static_cast<unsigned long long>(random()));
        *name = ".brevant-" + std::to_string(::getpid()) + "-" + unique + ".part";
        const int fd = ::openat(folder, name->c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            *error = errno;
            return fd;
        }
    }
    *error = EEXIST;
    return -1;
}

// Hands a folder just made to its owner, through the folder itself: a link put in its place
// meanwhile is not followed.
bool HandOverFolder(const std::string& folder, const FileOwner& owner, std::string* reason) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const bool handed = fd >= 0 && ::fchown(fd, owner.uid, owner.gid) == 0;
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (!handed) *reason = folder + ": cannot give the folder to its user: " + SystemReason(error);
    return handed;
}

}  // namespace

std::string PathInFolder(const std::string& folder, const std::string& name) {
    return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

int OpenOutputFolder(const std::string& folder, std::string* reason) {
    const int fd = OpenFolder(folder, folder, reason);
    if (fd < 0) return -1;
    *reason = RoomIn(fd, folder);
    if (reason->empty()) return fd;
    ::close(fd);
    return -1;
}

bool CheckOutputFolder(const std::string& folder, std::string* reason) {
    const int fd = OpenOutputFolder(folder, reason);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

bool MakeFolders(const std::string& folder, std::string* reason,
                 const std::optional<FileOwner>& owner) {
    if (folder.empty()) {
        *reason = "an empty folder name";
        return false;
    }
    // Each step of the path in turn, from the first: "a", "a/b", "a/b/c".
    for (std::size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        const std::string step = folder.substr(0, end);
        if (!step.empty() && step.back() != '/') {
            if (::mkdir(step.c_str(), 0700) == 0) {
                if (owner && !HandOverFolder(step, *owner, reason)) return false;
            } else if (errno != EEXIST) {
                *reason = step + ": cannot make the folder: " + SystemReason(errno);
                return false;
            }
        }
        if (end == std::string::npos) return true;
    }
}

bool WriteNewFile(int folder, const std::function<std::string(int)>& nameFor,
                  const std::string& bytes, std::string* name, std::string* reason,
                  const std::optional<FileOwner>& owner) {
    std::string temporary;
    int error = 0;
    const int fd = MakeTemporary(folder, &temporary, &error, 0600);
    if (fd < 0) {
        *reason = nameFor(1) + ": cannot be written: " + SystemReason(error);
        return false;
    }
    bool written = WriteAll(fd, bytes, &error);
    if (written && owner && ::fchown(fd, owner->uid, owner->gid) != 0) {
        error = errno;
        written = false;
    }
    if (written && ::fsync(fd) != 0) {
        error = errno;
        written = false;
    }
    if (::close(fd) != 0 && written) {
        error = errno;
        written = false;
    }
    bool named = false;
    for (int n = 1; written && !named && n <= 1000; ++n) {
        *name = nameFor(n);
        // A link puts the whole file in place under its name, and never over another file.
        if (::linkat(folder, temporary.c_str(), folder, name->c_str(), 0) == 0) {
            named = true;
        } else if (errno != EEXIST) {
            error = errno;
            written = false;
        }
    }
    ::unlinkat(folder, temporary.c_str(), 0);
    if (!named) {
        *reason = nameFor(1) + ": cannot be written: " + SystemReason(written ? EEXIST : error);
        return false;
    }
    // The new name itself must survive a power cut too.
    ::fsync(folder);
    return true;
}

bool CheckOutputPath(const std::string& path, OutputUse use, std::string* reason) {
    std::string folder, name;
    if (!Split(path, &folder, &name)) {
        *reason = path + ": names a folder, not a file";
        return false;
    }
    const int dir = OpenFolder(folder, path, reason);
    if (dir < 0) return false;
    struct stat info = {};
    int error = 0;
    const Found found = Look(dir, name, &info, &error);
    *reason = RefusalOf(found, info, error, use, false, path);
    if (!reason->empty() || found == Found::NullDevice) {
        // Nothing more to look at.
    } else if (use == OutputUse::Appended && found == Found::PlainFile) {
        // A log that is there is added to in place: the file must take it, not the folder.
        if (::faccessat(dir, name.c_str(), W_OK, AT_EACCESS) != 0) {
            *reason = path + ": cannot be written: " + SystemReason(errno);
        } else {
            *reason = SpaceIn(dir, path);
        }
    } else {
        *reason = RoomIn(dir, path);
    }
    ::close(dir);
    return reason->empty();
}

OutputFile::~OutputFile() { Drop(); }

void OutputFile::Drop() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (folder_ >= 0) {
        if (!temporary_.empty()) ::unlinkat(folder_, temporary_.c_str(), 0);
        if (created_) ::unlinkat(folder_, name_.c_str(), 0);
        ::close(folder_);
    }
    folder_ = -1;
    temporary_.clear();
    created_ = false;
}

bool OutputFile::Open(const std::string& path, std::string* reason) {
    Drop();
    path_ = path;
    std::string folder;
    if (!Split(path, &folder, &name_)) {
        *reason = path + ": names a folder, not a file";
        return false;
    }
    folder_ = OpenFolder(folder, path, reason);
    if (folder_ < 0) return false;
    // Twice at most: a file that turns up between the look and the exclusive create is looked at
    // again.
    for (int attempt = 0; attempt < 2; ++attempt) {
        struct stat info = {};
        int error = 0;
        const Found found = Look(folder_, name_, &info, &error);
        *reason = RefusalOf(found, info, error, OutputUse::Whole, true, path);
        if (!reason->empty()) {
            Drop();
            return false;
        }
        if (found == Found::NullDevice) {
            // Written to, and gone: nothing of the user's path is opened.
            ::close(folder_);
            folder_ = -1;
            fd_ = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        } else if (found == Found::Nothing) {
            fd_ = ::openat(folder_, name_.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd_ < 0 && errno == EEXIST) continue;
            created_ = fd_ >= 0;
        } else {
            fd_ = MakeTemporary(folder_, &temporary_, &error);
            if (fd_ < 0) temporary_.clear();
            errno = error;
        }
        if (fd_ < 0) {
            *reason = path + ": cannot be written: " + SystemReason(errno);
            Drop();
            return false;
        }
        return true;
    }
    *reason = path + ": keeps changing; not written";
    Drop();
    return false;
}

std::FILE* OutputFile::Stream() const {
    const int fd = fd_ >= 0 ? ::dup(fd_) : -1;
    std::FILE* stream = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (stream == nullptr && fd >= 0) ::close(fd);
    return stream;
}

bool OutputFile::Finish(std::string* reason) {
    if (fd_ < 0) {
        *reason = path_ + ": was not opened";
        return false;
    }
    const int closed = ::close(fd_);
    const int closeError = errno;
    fd_ = -1;
    if (closed != 0) {
        *reason = path_ + ": cannot be written: " + SystemReason(closeError);
        Drop();
        return false;
    }
    if (!temporary_.empty()) {
        // The name is looked at once more: whatever came there meanwhile is replaced, but for a
        // folder, a device, a pipe or a socket.
        struct stat info = {};
        int error = 0;
        const Found found = Look(folder_, name_, &info, &error);
        *reason = found == Found::NullDevice
                      ? path_ + ": not a plain file (a device, pipe or socket); not replaced"
                      : RefusalOf(found, info, error, OutputUse::Whole, true, path_);
        if (!reason->empty()) {
            Drop();
            return false;
        }
        if (::renameat(folder_, temporary_.c_str(), folder_, name_.c_str()) != 0) {
            *reason = path_ + ": cannot be put in place: " + SystemReason(errno);
            Drop();
            return false;
        }
        temporary_.clear();
    }
    created_ = false;
    Drop();
    return true;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* reason) {
    OutputFile file;
    if (!file.Open(path, reason)) return false;
    int error = 0;
    if (!WriteAll(file.Fd(), bytes, &error)) {
        *reason = path + ": cannot be written: " + SystemReason(error);
        return false;  // the file goes with `file`
    }
    return file.Finish(reason);
}

bool AppendToFile(const std::string& path, const std::string& bytes, std::string* reason) {
    reason->clear();
    std::string folder, name;
    if (!Split(path, &folder, &name)) {
        *reason = path + ": names a folder, not a file";
        return false;
    }
    const int dir = OpenFolder(folder, path, reason);
    if (dir < 0) return false;
    int fd = -1;
    bool created = false;
    off_t before = 0;
    for (int attempt = 0; attempt < 2 && fd < 0 && reason->empty(); ++attempt) {
        struct stat info = {};
        int error = 0;
        const Found found = Look(dir, name, &info, &error);
        *reason = RefusalOf(found, info, error, OutputUse::Appended, false, path);
        if (!reason->empty()) break;
        if (found == Found::NullDevice) {
            ::close(dir);
            return true;
        }
        if (found == Found::Nothing) {
            fd = ::openat(dir, name.c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            created = fd >= 0;
            if (fd < 0 && errno != EEXIST) {
                *reason = path + ": cannot be written: " + SystemReason(errno);
            }
            continue;
        }
        // O_NONBLOCK: what is opened may have become a pipe since the look, and no pipe is waited
        // for; what was opened must be the file that was looked at.
        fd = ::openat(dir, name.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat opened = {};
        if (fd < 0) {
            *reason = path + ": cannot be written: " + SystemReason(errno);
        } else if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
                   opened.st_ino != info.st_ino || opened.st_dev != info.st_dev ||
                   opened.st_nlink > 1) {
            *reason = path + ": changed while it was opened; not written";
            ::close(fd);
            fd = -1;
        } else {
            before = opened.st_size;
        }
    }
    if (fd < 0) {
        if (reason->empty()) *reason = path + ": keeps changing; not written";
        ::close(dir);
        return false;
    }
    int error = 0;
    const bool written = WriteAll(fd, bytes, &error);
    if (!written) {
        *reason = path + ": cannot be written: " + SystemReason(error);
        // What got in of the lines is taken out again: the file ends with a whole run.
        if (created) {
            ::unlinkat(dir, name.c_str(), 0);
        } else if (::ftruncate(fd, before) != 0) {
            // Nothing more to be done: the reason already tells that the log is short.
        }
    }
    ::close(fd);
    ::close(dir);
    return written;
}
