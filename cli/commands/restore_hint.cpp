#include "cli/commands/restore_hint.h"

#include "cli/shared/platform_text.h"
#include "cli/shared/state_folder.h"

std::string RestoreCommandLine(const CliOptions& options, const std::string& node,
                               const std::string& backupFile) {
    std::string line = std::string(InvokingUser() ? "sudo " : "") + kProgramName + " restore-cis";
    if (!options.simulate.empty()) line += " --simulate " + ShellWord(options.simulate);
    // A file whose name would read as an option is named from the current folder.
    const std::string file = backupFile.compare(0, 1, "-") == 0 ? "./" + backupFile : backupFile;
    line += " --device " + ShellWord(node) + " " + ShellWord(file);
    return line;
}
