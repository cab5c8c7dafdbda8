#pragma once
#include <string>

#include "cli/shared/cli_options.h"

// The command that puts a stick's old pages back from the file a format kept them in, exactly
// as the user is to type it: the stick's node, the simulated machine when there is one, sudo
// when the run was given root by it, and every word quoted for the shell where it needs to be.
std::string RestoreCommandLine(const CliOptions& options, const std::string& node,
                               const std::string& backupFile);
