#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>

#include "cli/shared/output_file.h"
#include "cli/shared/output_refusal.h"
#include "cli/shared/windows_error.h"

// The Windows side of the output files. A folder is held open (without sharing its deletion)
// while a file is made in it, so that it cannot be renamed or replaced meanwhile; names are never
// followed through a reparse point (a symbolic link or a junction); a new file is created with
// CREATE_NEW; an existing one is replaced by a whole new file moved over it. Handles travel as
// C runtime descriptors (_open_osfhandle), as the callers write through them.

namespace {

constexpr std::uint64_t kMinFreeBytes = 64 * 1024;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// "a\b\c" is the name "c" in the folder "a\b"; "c" in "."; "C:\c" in "C:\". False for a path
// that names no file in a folder.
bool Split(const std::string& path, std::string* folder, std::string* name) {
    std::size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos && path.size() >= 2 && path[1] == ':') {
        // "C:name": in the current folder of drive C.
        *folder = path.substr(0, 2) + ".";
        *name = path.substr(2);
    } else if (slash == std::string::npos) {
        *folder = ".";
        *name = path;
    } else {
        *name = path.substr(slash + 1);
        const bool root = slash == 0 || (slash == 2 && path[1] == ':');
        *folder = path.substr(0, root ? slash + 1 : slash);
    }
    return !name->empty() && *name != "." && *name != "..";
}

// NUL takes the output (whatever extension follows it); CON, PRN, AUX, COMn and LPTn are
// devices, never files.
bool IsDeviceName(const std::string& name, bool* null) {
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    *null = base == "NUL";
    if (*null || base == "CON" || base == "PRN" || base == "AUX" || base == "CONIN$" ||
        base == "CONOUT$") {
        return true;
    }
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

// A folder held open; INVALID_HANDLE_VALUE with the reason.
HANDLE OpenFolder(const std::string& folder, const std::string& named, std::string* reason) {
    const HANDLE handle =
        CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    std::string why;
    BY_HANDLE_FILE_INFORMATION info = {};
    if (handle == INVALID_HANDLE_VALUE) {
        why = WindowsErrorText(GetLastError());
    } else if (!GetFileInformationByHandle(handle, &info)) {
        why = WindowsErrorText(GetLastError());
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        why = "a symbolic link or junction; name the folder itself";
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        why = "not a folder";
    } else {
        return handle;
    }
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    *reason = named + ": " + (named == folder ? "" : "its folder " + folder + ": ") + why;
    return INVALID_HANDLE_VALUE;
}

// The path of a folder held open, as the system resolved it when it was opened.
std::string PathOf(int folder) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(folder));
    char path[MAX_PATH * 2] = {};
    const DWORD length = GetFinalPathNameByHandleA(handle, path, sizeof path, FILE_NAME_NORMALIZED);
    return length == 0 || length >= sizeof path ? std::string() : std::string(path, length);
}

// What a name in a folder is, without following it; `links` gets its number of names.
Found Look(const std::string& folder, const std::string& name, DWORD* links, DWORD* error) {
    bool null = false;
    if (IsDeviceName(name, &null)) return null ? Found::NullDevice : Found::Other;
    const HANDLE handle =
        CreateFileA(PathInFolder(folder, name).c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return *error == ERROR_FILE_NOT_FOUND ? Found::Nothing : Found::Unknown;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    *error = GetLastError();
    const DWORD type = GetFileType(handle);
    CloseHandle(handle);
    if (!known) return Found::Unknown;
    *links = info.nNumberOfLinks;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Found::Link;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Found::Folder;
    return type == FILE_TYPE_DISK ? Found::PlainFile : Found::Other;
}

std::string RefusalOf(Found found, DWORD links, DWORD error, OutputUse use, bool replaceLinks,
                      const std::string& path) {
    return Refusal(found, links > 1, WindowsErrorText(error), use, replaceLinks, path);
}

// Whether the folder's volume has room left. Empty, or the reason.
std::string SpaceIn(const std::string& folder, const std::string& named) {
    ULARGE_INTEGER free = {};
    if (!GetDiskFreeSpaceExA(folder.c_str(), &free, nullptr, nullptr)) return std::string();
    if (free.QuadPart < kMinFreeBytes) {
        return named + ": its disk is full (" + std::to_string(free.QuadPart / 1024) + " KiB free)";
    }
    return std::string();
}

HANDLE CreateNew(const std::string& path, DWORD access = GENERIC_WRITE) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// A new file beside the one it will replace, under a name nobody else uses; invalid when none
// can be made.
HANDLE MakeTemporary(const std::string& folder, std::string* name, DWORD* error) {
    LARGE_INTEGER counter = {};
    QueryPerformanceCounter(&counter);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char unique[64];
        std::snprintf(unique, sizeof unique, ".brevant-%lu-%llx-%d.part",
                      static_cast<unsigned long>(GetCurrentProcessId()),
                      static_cast<unsigned long long>(counter.QuadPart), attempt);
        *name = unique;
        const HANDLE handle = CreateNew(PathInFolder(folder, *name));
        *error = GetLastError();
        if (handle != INVALID_HANDLE_VALUE || *error != ERROR_FILE_EXISTS) return handle;
    }
    return INVALID_HANDLE_VALUE;
}

// Whether new files can be made in the folder (the system's rights say so only by trying), and
// there is room. Empty, or the reason.
std::string RoomIn(const std::string& folder, const std::string& named) {
    std::string probe;
    DWORD error = 0;
    const HANDLE handle = MakeTemporary(folder, &probe, &error);
    if (handle == INVALID_HANDLE_VALUE)
        return named + ": cannot write there: " + WindowsErrorText(error);
    CloseHandle(handle);
    DeleteFileA(PathInFolder(folder, probe).c_str());
    return SpaceIn(folder, named);
}

bool WriteAll(HANDLE handle, const std::string& bytes, DWORD* error) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            *error = GetLastError();
            return false;
        }
        done += written;
    }
    return true;
}

int Descriptor(HANDLE handle, int flags) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    if (fd < 0) CloseHandle(handle);
    return fd;
}

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

}  // namespace

std::string PathInFolder(const std::string& folder, const std::string& name) {
    return !folder.empty() && IsSeparator(folder.back()) ? folder + name : folder + "\\" + name;
}

int OpenOutputFolder(const std::string& folder, std::string* reason) {
    const HANDLE handle = OpenFolder(folder, folder, reason);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    *reason = RoomIn(folder, folder);
    if (!reason->empty()) {
        CloseHandle(handle);
        return -1;
    }
    const int fd = Descriptor(handle, _O_RDONLY);
    if (fd < 0) *reason = folder + ": cannot be held open";
    return fd;
}

bool CheckOutputFolder(const std::string& folder, std::string* reason) {
    const int fd = OpenOutputFolder(folder, reason);
    if (fd >= 0) _close(fd);
    return fd >= 0;
}

bool MakeFolders(const std::string& folder, std::string* reason, const std::optional<FileOwner>&) {
    if (folder.empty()) {
        *reason = "an empty folder name";
        return false;
    }
    // Each step in turn, past the drive ("C:\") or the share ("\\server\share\"): "a", "a\b".
    std::size_t start = 0;
    if (folder.size() >= 2 && folder[1] == ':') start = 2;
    if (folder.compare(0, 2, "\\\\") == 0) {
        start = folder.find_first_of("\\/", 2);
        start = start == std::string::npos ? folder.size() : folder.find_first_of("\\/", start + 1);
        if (start == std::string::npos) start = folder.size();
    }
    for (std::size_t end = folder.find_first_of("\\/", start + 1);;
         end = folder.find_first_of("\\/", end + 1)) {
        const std::string step = folder.substr(0, end);
        if (step.size() > start && !IsSeparator(step.back())) {
            // The state folder is in the user's own profile; a folder made there takes its rights.
            if (!CreateDirectoryA(step.c_str(), nullptr) &&
                GetLastError() != ERROR_ALREADY_EXISTS) {
                *reason = step + ": cannot make the folder: " + WindowsErrorText(GetLastError());
                return false;
            }
        }
        if (end == std::string::npos) return true;
    }
}

bool WriteNewFile(int folder, const std::function<std::string(int)>& nameFor,
                  const std::string& bytes, std::string* name, std::string* reason,
                  const std::optional<FileOwner>&) {
    const std::string where = PathOf(folder);
    std::string temporary;
    DWORD error = 0;
    const HANDLE handle =
        where.empty() ? INVALID_HANDLE_VALUE : MakeTemporary(where, &temporary, &error);
    if (handle == INVALID_HANDLE_VALUE) {
        *reason = nameFor(1) + ": cannot be written: " + WindowsErrorText(error);
        return false;
    }
    bool written = WriteAll(handle, bytes, &error);
    if (written && !FlushFileBuffers(handle)) {
        error = GetLastError();
        written = false;
    }
    CloseHandle(handle);
    bool named = false;
    for (int n = 1; written && !named && n <= 1000; ++n) {
        *name = nameFor(n);
        // Without MOVEFILE_REPLACE_EXISTING the whole file gets its name, and never over another.
        if (MoveFileExA(PathInFolder(where, temporary).c_str(), PathInFolder(where, *name).c_str(),
                        MOVEFILE_WRITE_THROUGH)) {
            named = true;
        } else if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) {
            error = GetLastError();
            written = false;
        }
    }
    if (!named) {
        DeleteFileA(PathInFolder(where, temporary).c_str());
        *reason = nameFor(1) + ": cannot be written: " +
                  WindowsErrorText(written ? static_cast<DWORD>(ERROR_FILE_EXISTS) : error);
        return false;
    }
    return true;
}

bool CheckOutputPath(const std::string& path, OutputUse use, std::string* reason) {
    std::string folder, name;
    if (!Split(path, &folder, &name)) {
        *reason = path + ": names a folder, not a file";
        return false;
    }
    const HANDLE dir = OpenFolder(folder, path, reason);
    if (dir == INVALID_HANDLE_VALUE) return false;
    DWORD links = 0;
    DWORD error = 0;
    const Found found = Look(folder, name, &links, &error);
    *reason = RefusalOf(found, links, error, use, false, path);
    if (!reason->empty() || found == Found::NullDevice) {
        // Nothing more to look at.
    } else if (use == OutputUse::Appended && found == Found::PlainFile) {
        // A log that is there is added to in place: the file must take it.
        const HANDLE file = CreateFileA(PathInFolder(folder, name).c_str(), FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            *reason = path + ": cannot be written: " + WindowsErrorText(GetLastError());
        } else {
            CloseHandle(file);
            *reason = SpaceIn(folder, path);
        }
    } else {
        *reason = RoomIn(folder, path);
    }
    CloseHandle(dir);
    return reason->empty();
}

OutputFile::~OutputFile() { Drop(); }

void OutputFile::Drop() {
    if (fd_ >= 0) _close(fd_);
    fd_ = -1;
    if (folder_ >= 0) {
        const std::string where = PathOf(folder_);
        if (!temporary_.empty()) DeleteFileA(PathInFolder(where, temporary_).c_str());
        if (created_) DeleteFileA(PathInFolder(where, name_).c_str());
        _close(folder_);
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
    const HANDLE dir = OpenFolder(folder, path, reason);
    if (dir == INVALID_HANDLE_VALUE) return false;
    folder_ = Descriptor(dir, _O_RDONLY);
    const std::string where = folder_ >= 0 ? PathOf(folder_) : std::string();
    if (where.empty()) {
        *reason = path + ": its folder cannot be held open";
        Drop();
        return false;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD links = 0;
        DWORD error = 0;
        const Found found = Look(where, name_, &links, &error);
        *reason = RefusalOf(found, links, error, OutputUse::Whole, true, path);
        if (!reason->empty()) {
            Drop();
            return false;
        }
        HANDLE handle = INVALID_HANDLE_VALUE;
        if (found == Found::NullDevice) {
            // Written to, and gone: nothing of the user's path is opened.
            _close(folder_);
            folder_ = -1;
            handle = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        } else if (found == Found::Nothing) {
            handle = CreateNew(PathInFolder(where, name_));
            if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;
            created_ = handle != INVALID_HANDLE_VALUE;
        } else {
            handle = MakeTemporary(where, &temporary_, &error);
            if (handle == INVALID_HANDLE_VALUE) temporary_.clear();
            SetLastError(error);
        }
        if (handle == INVALID_HANDLE_VALUE) {
            *reason = path + ": cannot be written: " + WindowsErrorText(GetLastError());
            Drop();
            return false;
        }
        fd_ = Descriptor(handle, _O_WRONLY);
        if (fd_ < 0) {
            *reason = path + ": cannot be written";
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
    const int fd = fd_ >= 0 ? _dup(fd_) : -1;
    std::FILE* stream = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
    if (stream == nullptr && fd >= 0) _close(fd);
    return stream;
}

bool OutputFile::Finish(std::string* reason) {
    if (fd_ < 0) {
        *reason = path_ + ": was not opened";
        return false;
    }
    const bool flushed = folder_ < 0 || FlushFileBuffers(HandleOf(fd_)) != 0;
    const DWORD flushError = GetLastError();
    _close(fd_);
    fd_ = -1;
    if (!flushed) {
        *reason = path_ + ": cannot be written: " + WindowsErrorText(flushError);
        Drop();
        return false;
    }
    if (!temporary_.empty()) {
        const std::string where = PathOf(folder_);
        DWORD links = 0;
        DWORD error = 0;
        const Found found = Look(where, name_, &links, &error);
        *reason = found == Found::NullDevice || found == Found::Other
                      ? path_ + ": not a plain file (a device, pipe or socket); not replaced"
                      : RefusalOf(found, links, error, OutputUse::Whole, true, path_);
        if (!reason->empty()) {
            Drop();
            return false;
        }
        // A link that came in its place is replaced as a name, never followed.
        if (!MoveFileExA(PathInFolder(where, temporary_).c_str(),
                         PathInFolder(where, name_).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            *reason = path_ + ": cannot be put in place: " + WindowsErrorText(GetLastError());
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
    DWORD error = 0;
    if (!WriteAll(HandleOf(file.Fd()), bytes, &error)) {
        *reason = path + ": cannot be written: " + WindowsErrorText(error);
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
    bool null = false;
    if (IsDeviceName(name, &null) && null) return true;
    const HANDLE dir = OpenFolder(folder, path, reason);
    if (dir == INVALID_HANDLE_VALUE) return false;
    // Opened as it is, never through a reparse point, then looked at through the handle: what is
    // written to is the file that was looked at.
    const std::string file = PathInFolder(folder, name);
    HANDLE handle = CreateFileA(
        file.c_str(), FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | DELETE,
        FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const bool created = handle != INVALID_HANDLE_VALUE && GetLastError() != ERROR_ALREADY_EXISTS;
    BY_HANDLE_FILE_INFORMATION info = {};
    LARGE_INTEGER before = {};
    if (handle == INVALID_HANDLE_VALUE) {
        *reason = path + ": cannot be written: " + WindowsErrorText(GetLastError());
    } else if (!GetFileInformationByHandle(handle, &info) ||
               (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
               GetFileType(handle) != FILE_TYPE_DISK) {
        *reason = path + ": not a plain file; the log is not added to through it";
    } else if (info.nNumberOfLinks > 1) {
        *reason = path + ": has other names (hard links); the log is not added to through them";
    } else if (!GetFileSizeEx(handle, &before) ||
               !SetFilePointerEx(handle, LARGE_INTEGER{}, nullptr, FILE_END)) {
        *reason = path + ": cannot be written: " + WindowsErrorText(GetLastError());
    }
    DWORD error = 0;
    bool written = reason->empty() && WriteAll(handle, bytes, &error);
    if (reason->empty() && !written) {
        *reason = path + ": cannot be written: " + WindowsErrorText(error);
        // What got in of the lines is taken out again: the file ends with a whole run.
        if (created) {
            FILE_DISPOSITION_INFO gone = {TRUE};
            SetFileInformationByHandle(handle, FileDispositionInfo, &gone, sizeof gone);
        } else {
            SetFilePointerEx(handle, before, nullptr, FILE_BEGIN);
            SetEndOfFile(handle);
        }
    }
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    CloseHandle(dir);
    return written;
}
