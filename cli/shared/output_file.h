#pragma once
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

// The files the command line writes: reports, maps, the log, traces and exports. It runs as
// root, often in folders others can write to (/tmp, a shared project folder), so a name there
// may be made to lead elsewhere at any moment. Therefore:
//
//  - a path is checked before anything is sent to a stick: its folder must be there and be
//    writable, and the name must be free, a plain file or the null device;
//  - the file is opened once, when it is written, relative to its folder opened without
//    following a link at its last step, and never through a link of its own: a new file is
//    created exclusively; an existing plain file is replaced by a whole new one renamed over it
//    (a report that cannot be written leaves the old one as it was); a link put in its place
//    meanwhile is replaced, never followed; a folder, device, pipe or socket is refused;
//  - the null device takes the output and nothing is opened for it (scripts use it to say
//    "no file").
//
// Every reason names the path once, as the user gave it.

// How a file is written: made anew, or added to (the log).
enum class OutputUse { Whole, Appended };

// The path of a name in a folder, with the system's separator ("/" on Linux, "\\" on Windows)
// unless the folder ends with one already.
std::string PathInFolder(const std::string& folder, const std::string& name);

// Whether the path can be written as `use` says. False with the reason.
bool CheckOutputPath(const std::string& path, OutputUse use, std::string* reason);

// Whether the folder can take new files: there, a folder (not a link to one), writable, with
// room left on its file system. False with the reason.
bool CheckOutputFolder(const std::string& folder, std::string* reason);
// The same, and the folder kept open for WriteNewFile: its descriptor, or -1 with the reason.
int OpenOutputFolder(const std::string& folder, std::string* reason);

// Whom a file or folder made for a user is handed to: run as root under sudo, the files of the
// user's own state folder are the user's, not root's.
struct FileOwner {
    unsigned uid = 0;
    unsigned gid = 0;
};

// Makes the folder and every missing folder above it, each readable by its owner only, and
// handed to `owner` when one is given. A folder that is there already is left as it is: its
// rights and its owner are never changed. False with the reason.
bool MakeFolders(const std::string& folder, std::string* reason,
                 const std::optional<FileOwner>& owner = std::nullopt);

// Writes `bytes` as a new file in the open folder (mode 0600, handed to `owner` when one is
// given), synced to the disk before it gets its name: the first of nameFor(1), nameFor(2), ...
// that is free. No file is ever replaced. `name` gets the name used. False with the reason.
bool WriteNewFile(int folder, const std::function<std::string(int)>& nameFor,
                  const std::string& bytes, std::string* name, std::string* reason,
                  const std::optional<FileOwner>& owner = std::nullopt);

// Writes `bytes` as the whole file. False with the reason; then nothing of it is left behind.
bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* reason);

// Adds `bytes` to the end of the file (made when missing). A file with other names (hard links)
// is refused. False with the reason; a write that fails part way is taken back.
bool AppendToFile(const std::string& path, const std::string& bytes, std::string* reason);

// A file written piece by piece (a trace as the commands go, an exported image): opened once,
// then written through Fd(), and put in place by Finish. Dropped unfinished, whatever was
// written of it is removed.
class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Open(const std::string& path, std::string* reason);
    int Fd() const { return fd_; }
    // A stream of its own over the open file (its writer closes it), for writing as it goes;
    // nullptr when none can be made.
    std::FILE* Stream() const;
    // Closes the file and, when it replaces one, renames it into place. False with the reason.
    bool Finish(std::string* reason);

  private:
    void Drop();

    std::string path_;
    int folder_ = -1;
    int fd_ = -1;
    std::string name_;       // the file's name in its folder
    std::string temporary_;  // the name written under until Finish, when replacing a file
    bool created_ = false;   // made under its own name: removed when dropped
};
