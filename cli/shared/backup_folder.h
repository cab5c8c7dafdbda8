#pragma once
#include <optional>
#include <string>

#include "cli/shared/output_file.h"
#include "format/cis_backup.h"

// Where the command line keeps the old CIS pages of the sticks it formats, and under which name.

// The name a stick's old pages are kept under, before a -2, -3, ... that makes it unique:
// "<serial or node>-YYYYmmdd-HHMMSS" of the time `when`. Characters other than letters, digits,
// '-' and '_' in the stick's name become '_'.
std::string BackupFileBase(const std::string& stick, long long when);

// The folder the old pages go to: made when it is not there (readable by its owner only; a
// folder that is there keeps its rights) and opened once, before anything is sent to a stick,
// so that the pages go where the folder was when it was checked. What is made in the user's
// state folder is the invoking user's (see state_folder.h).
class BackupFolder {
  public:
    BackupFolder() = default;
    ~BackupFolder();
    BackupFolder(const BackupFolder&) = delete;
    BackupFolder& operator=(const BackupFolder&) = delete;

    // False with the reason when the folder cannot be made, is not a folder (or is reached
    // through a link at its last step), cannot be written or is full.
    bool Open(const std::string& path, std::string* reason);

    // Keeps the pages in a new file named BackupFileBase(stick, when) + ".cis", with -2, -3, ...
    // before ".cis" when that is taken (two sticks of one batch may share a serial). The file
    // is whole on the disk before it gets its name and never replaces another. `path` gets its
    // path. False with the reason.
    bool Keep(const CisBackup& pages, const std::string& stick, long long when, std::string* path,
              std::string* reason);

  private:
    std::string path_;
    int fd_ = -1;
    std::optional<FileOwner> owner_;
};
