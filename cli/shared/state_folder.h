#pragma once
#include <optional>
#include <string>

#include "cli/shared/output_file.h"

// Where brevant keeps what it remembers between runs: the history of the runs and the old CIS
// pages of the sticks it formats. On Linux real sticks need root, and most users get it with
// sudo: the state is then still the invoking user's, in that user's folder and owned by that
// user, as the manual says. On Windows it is %LOCALAPPDATA%\Brevant of the user running it.

// The user who ran `sudo brevant ...`: when the process runs as root and sudo named another user
// (SUDO_UID, SUDO_GID). Empty otherwise.
std::optional<FileOwner> InvokingUser();

// Windows: %LOCALAPPDATA%\Brevant. Linux: $XDG_STATE_HOME/brevant when XDG_STATE_HOME is set (sudo
// leaves it out unless told to keep it); else the invoking user's home (under sudo, from the user
// database: sudo gives root's HOME) or $HOME, with .local/state/brevant; else "brevant-state" here.
std::string StateFolder();

// The history in the state folder: history.sqlite3 on Linux, history.jsonl on Windows.
std::string HistoryPath();

// The old CIS pages' folder when --backup-dir does not name one: cis in the state folder.
std::string DefaultBackupFolder();

// Whom what brevant makes in `folder` is handed to: the invoking user when the folder is in the
// state folder; nobody (it stays the process's) otherwise.
std::optional<FileOwner> OwnerOfStateFiles(const std::string& folder);
