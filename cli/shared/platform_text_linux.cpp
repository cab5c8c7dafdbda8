#include "cli/shared/platform_text.h"

const char kProgramName[] = "brevant";

const char kNodeHelp[] =
    "only this node (/dev/sgN, /dev/sdX, or a simulated node such as sim:E); the same as "
    "naming it after the command";

const char kSimulateHelp[] =
    "use a simulated machine described in FILE instead of this one's devices (needs no root)";

const char kBackupFolderHelp[] =
    "keep the old CIS page of the stick in DIR before anything is erased (default: "
    "~/.local/state/brevant/cis, the invoking user's under sudo)";

const char kPlatformHelp[] =
    "On Linux: nodes are SCSI generic nodes (/dev/sgN) or whole disks (/dev/sdX);\n"
    "real sticks need root. History and backups live in ~/.local/state/brevant\n"
    "(the invoking user's under sudo). Ctrl-C, kill or a closed terminal stop a\n"
    "run as Stop does. The progress line follows the terminal's width; plain\n"
    "lines when output is redirected. A stick is held for its run: its node\n"
    "exclusively, its disk driver off it, and a mounted or otherwise used disk is\n"
    "refused.\n";
const char kDevicesReached[] =
    "Devices are reached over SG_IO (Linux SCSI generic) or, with --simulate, on a\n"
    "simulated machine.\n";

std::string ShellWord(const std::string& word) {
    const bool plain = !word.empty() && word.find_first_not_of(
                                            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                            "0123456789@%+=:,./_-") == std::string::npos;
    if (plain) return word;
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
