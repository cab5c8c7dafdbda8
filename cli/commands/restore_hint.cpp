#include "cli/commands/restore_hint.h"

#include "cli/shared/state_folder.h"

std::string ShellWord(const std::string& word) {
    const bool plain = !word.empty() && word.find_first_not_of(
                                            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                            "0123456789@%+=:,./_-") == std::string::npos;
    if (plain) return word;
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string RestoreCommandLine(const CliOptions& options, const std::string& node,
                               const std::string& backupFile) {
    std::string line = InvokingUser() ? "sudo brevant restore-cis" : "brevant restore-cis";
    if (!options.simulate.empty()) line += " --simulate " + ShellWord(options.simulate);
    // A file whose name would read as an option is named from the current folder.
    const std::string file = backupFile.compare(0, 1, "-") == 0 ? "./" + backupFile : backupFile;
    line += " --device " + ShellWord(node) + " " + ShellWord(file);
    return line;
}
