#include "cli/settings_check.h"

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
