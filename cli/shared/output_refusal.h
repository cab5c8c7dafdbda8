#pragma once
#include <string>

#include "cli/shared/output_file.h"

// What the output files find under a name, and what they make of it: the part of
// cli/shared/output_file.h both platforms share.

// What a name in a folder is, looked at without following it.
enum class Found { Nothing, PlainFile, NullDevice, Link, Folder, Other, Unknown };

// The reason `path` cannot be written as `use` says, or empty when it can: links are refused
// (`replaceLinks` false) or replaced; a log's file must have no other names (`otherNames`).
// `unknown` is the system's reason when the name could not be looked at.
std::string Refusal(Found found, bool otherNames, const std::string& unknown, OutputUse use,
                    bool replaceLinks, const std::string& path);
