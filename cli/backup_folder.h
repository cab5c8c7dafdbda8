#pragma once
#include <string>

#include "format/cis_backup.h"

// Where the command line keeps the old CIS pages of the sticks it formats, and under which name.

// --backup-dir when given, else $XDG_STATE_HOME/brevant/cis, else ~/.local/state/brevant/cis.
std::string DefaultBackupFolder();

// The folder the old pages go to: made when it is not there (readable by its owner only; a
// folder that is there keeps its rights) and opened once, before anything is sent to a stick,
// so that the pages go where the folder was when it was checked.
class BackupFolder {
  public:
    BackupFolder() = default;
    ~BackupFolder();
    BackupFolder(const BackupFolder&) = delete;
    BackupFolder& operator=(const BackupFolder&) = delete;

    // False with the reason when the folder cannot be made, is not a folder (or is reached
    // through a link at its last step), cannot be written or is full.
    bool Open(const std::string& path, std::string* reason);

    // Keeps the pages in a new file named after the stick and the time,
    // "<serial or node>-YYYYmmdd-HHMMSS.cis", with -2, -3, ... when that is taken (two sticks of
    // one batch may share a serial). Characters other than letters, digits, '-' and '_' in the
    // stick's name become '_'. The file is whole on the disk before it gets its name and never
    // replaces another. `path` gets its path. False with the reason.
    bool Keep(const CisBackup& pages, const std::string& stick, long long when, std::string* path,
              std::string* reason);

  private:
    std::string path_;
    int fd_ = -1;
};
