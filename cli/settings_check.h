#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "core/settings_parser.h"

// A look at a settings file before it is used: what the settings reader will take from it and
// what it will pass over. Before a disk is erased the user should hear that a switch they wrote
// was not understood. Problems stop the program; warnings are shown.
struct SettingsCheck {
    bool readable = false;              // false: missing, unopenable or not a plain file
    std::string unreadableReason;       // "not a plain file", when there is more to say
    std::vector<std::string> problems;  // line 3: "VerifyEraseFree=yes": VerifyEraseFree needs...
    std::vector<std::string> warnings;  // unknown keys, a missing [Setting] section
    std::vector<SettingAssignment> applied;  // exactly what the reader sets from the file
};

SettingsCheck CheckSettingsText(std::string_view text);
SettingsCheck CheckSettingsFile(const std::string& path);
