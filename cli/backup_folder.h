#pragma once
#include <string>

// Where the command line keeps the old CIS pages of the sticks it formats, and under which name.

// --backup-dir when given, else $XDG_STATE_HOME/brevant/cis, else ~/.local/state/brevant/cis.
std::string DefaultBackupFolder();

// Makes the folder (and its parents) if it is not there, readable by its owner only. False with
// the system's reason.
bool MakeBackupFolder(const std::string& folder, std::string* error);

// A new file name in the folder that names the stick and the time:
// "<serial or node>-YYYYmmdd-HHMMSS.cis", with -2, -3, ... when that is taken. Characters other
// than letters, digits, '-' and '_' in the stick's name become '_'.
std::string BackupFileName(const std::string& folder, const std::string& stick, long long when);
