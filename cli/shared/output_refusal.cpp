#include "cli/shared/output_refusal.h"

std::string Refusal(Found found, bool otherNames, const std::string& unknown, OutputUse use,
                    bool replaceLinks, const std::string& path) {
    switch (found) {
        case Found::Nothing:
        case Found::NullDevice:
            return std::string();
        case Found::PlainFile:
            if (use == OutputUse::Appended && otherNames) {
                return path +
                       ": has other names (hard links); the log is not added to through them";
            }
            return std::string();
        case Found::Link:
            if (replaceLinks && use == OutputUse::Whole) return std::string();
            return path + ": a symbolic link; nothing is written through one";
        case Found::Folder:
            return path + ": not a plain file but a folder";
        case Found::Other:
            return path +
                   ": not a plain file (a device, pipe or socket); nothing is written to one";
        case Found::Unknown:
            break;
    }
    return path + ": " + unknown;
}
