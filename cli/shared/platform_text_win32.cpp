#include "cli/shared/platform_text.h"

const char kProgramName[] = "brevant-cli";

const char kNodeHelp[] =
    "only this drive (a drive letter such as E:, an ASPI address such as 1:0, or a simulated "
    "node such as sim:E); the same as naming it after the command";

const char kSimulateHelp[] =
    "use a simulated machine described in FILE instead of this one's devices (needs no "
    "administrator rights)";

const char kBackupFolderHelp[] =
    "keep the old CIS page of the stick in DIR before anything is erased (default: "
    "%LOCALAPPDATA%\\Brevant\\cis)";

const char kPlatformHelp[] =
    "On Windows: nodes are drive letters (E:) over the SCSI pass-through\n"
    "requests, or ASPI addresses (adapter:target, 1:0) when WNASPI32.DLL loads;\n"
    "run from an administrator's command prompt. History (history.jsonl) and\n"
    "backups (cis) live in %LOCALAPPDATA%\\Brevant. Ctrl-C, Ctrl-Break or closing\n"
    "the console window stop a run as Stop does. The progress line follows the\n"
    "console window's width; plain lines when output is redirected. The volume on\n"
    "a stick's drive letter is locked and dismounted for a format or a restore,\n"
    "and the run is refused when it cannot be (files open on it). format --all\n"
    "and watch run a worker process per stick as on Linux; watch asks the\n"
    "readers not busy with a run who they are every two seconds. --replug\n"
    "cannot be done on Windows.\n";
const char kDevicesReached[] =
    "Devices are reached over ASPI for Win32 (WNASPI32.DLL) when it loads, else the SCSI\n"
    "pass-through requests on the drive letters, or, with --simulate, on a simulated\n"
    "machine.\n";

// cmd.exe takes a word between double quotes as it is, spaces and & | < > ^ included; a file
// name cannot hold a double quote.
std::string ShellWord(const std::string& word) {
    const bool plain = !word.empty() && word.find_first_not_of(
                                            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                            "0123456789+=:,./\\_-") == std::string::npos;
    return plain ? word : "\"" + word + "\"";
}
