#pragma once
#include <string>

// What the help says differently on each platform (platform_text_linux.cpp,
// platform_text_win32.cpp): the program's name, how nodes are named, where the state is kept,
// how a run is stopped, and the rest of what a user of that system must know.

// "brevant" on Linux; "brevant-cli" on Windows, where file names ignore case and the program
// sits beside Brevant.exe.
extern const char kProgramName[];
// What --device takes.
extern const char kNodeHelp[];
// What --simulate does, and that it needs no rights.
extern const char kSimulateHelp[];
// The default of --backup-dir.
extern const char kBackupFolderHelp[];
// The paragraph at the end of the help: nodes, state, stops, the progress line, in-use checks.
extern const char kPlatformHelp[];
// How the devices are reached, for --version.
extern const char kDevicesReached[];

// A word as this system's shell takes it (a POSIX shell; cmd.exe on Windows): as it is when it
// holds nothing the shell would read, else quoted.
std::string ShellWord(const std::string& word);
