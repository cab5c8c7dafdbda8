#pragma once
#include <string>
#include <vector>

// A look at a settings file before it is used. The reader of the settings skips what it cannot
// understand and keeps the defaults for it; before a disk is erased the user should hear that
// a switch they wrote was not understood. Problems stop the program; warnings are shown.
struct SettingsCheck {
    bool readable = false;
    std::vector<std::string> problems;  // "line 3: VerifyEraseFree=yes: not a whole number"
    std::vector<std::string> warnings;  // unknown keys, a missing [Setting] section
};

SettingsCheck CheckSettingsFile(const std::string& path);
