#include "cli/shared/settings_check.h"

#include <filesystem>

#include "cli/shared/messages.h"

SettingsCheck CheckSettingsText(std::string_view text) {
    const ParsedSettings parsed = ParseSettingsText(text);
    SettingsCheck check;
    check.readable = true;
    check.applied = parsed.assignments;
    for (const SettingsNote& note : parsed.notes) {
        std::string line = note.text;
        if (note.line != 0) line = "line " + std::to_string(note.line) + ": " + line;
        (note.kind == SettingsNoteKind::Problem ? check.problems : check.warnings)
            .push_back(std::move(line));
    }
    // The notes kept stop at kMaxSettingsNotes; the rest is counted.
    if (parsed.problemCount > check.problems.size())
        check.problems.push_back(std::to_string(parsed.problemCount - check.problems.size()) +
                                 " more problems not listed");
    if (parsed.warningCount > check.warnings.size())
        check.warnings.push_back(std::to_string(parsed.warningCount - check.warnings.size()) +
                                 " more warnings not listed");
    return check;
}

SettingsCheck CheckSettingsFile(const std::string& path) {
    std::string text;
    SettingsCheck check;
    std::string reason;
    switch (ReadPlainFile(path, kMaxSettingsFileBytes, &text, &reason)) {
        case PlainFileStatus::Read:
            return CheckSettingsText(text);
        case PlainFileStatus::Unreadable:
        case PlainFileStatus::NotAPlainFile:
            check.unreadableReason = reason;
            break;
        case PlainFileStatus::TooLarge:
            // It is there, and the program would not read it: not a file to go on with.
            check.readable = true;
            check.problems.push_back("larger than " +
                                     std::to_string(kMaxSettingsFileBytes / 1024 / 1024) +
                                     " MiB: not read");
            break;
    }
    return check;
}

bool LoadRunSettings(const CliOptions& options, FormatSettings* settings, std::string* path) {
    const bool named = !options.settingsPath.empty();
    *path = named ? options.settingsPath : "Brevant.ini";
    std::error_code looked;
    if (!named && std::filesystem::symlink_status(*path, looked).type() ==
                      std::filesystem::file_type::not_found) {
        // No settings file: the defaults apply.
        if (options.verbosity >= 1) Complain("settings: none found (" + *path + "), the defaults");
        path->clear();
        return true;
    }
    const SettingsCheck check = CheckSettingsFile(*path);
    if (!check.readable) {
        const std::string reason =
            check.unreadableReason.empty() ? "" : ": " + check.unreadableReason;
        Complain(*path + ": cannot read the settings file" + reason);
        return false;
    }
    for (const auto& warning : check.warnings) Complain("warning: " + *path + ": " + warning);
    if (!check.problems.empty()) {
        for (const auto& problem : check.problems) Complain(*path + ": " + problem);
        Complain(*path + ": the settings file is not usable; nothing was done");
        return false;
    }
    // What was checked is what is used: the file is not read a second time.
    ApplySettings(check.applied, settings);
    if (options.verbosity >= 1) Complain("settings: " + *path);
    return true;
}
