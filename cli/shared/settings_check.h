#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "cli/shared/cli_options.h"
#include "core/format_settings.h"
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

// The settings a format runs with: those of the file --settings names, else of Brevant.ini in
// the current folder when there is one, else the defaults. What is wrong with the file is told
// on standard error; false when the settings cannot be used. `path` gets the file that was read
// (empty: none).
bool LoadRunSettings(const CliOptions& options, FormatSettings* settings, std::string* path);
