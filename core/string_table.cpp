#include "core/string_table.h"

// The entries are the STRINGTABLE of res/brevant.rc, which the build turns into C++
// (cmake/string_table.cmake): the texts are written once, for both programs.
const AppStringEntry kAppStrings[] = {
#include "res/app_strings.inc"
};

const std::size_t kAppStringCount = sizeof kAppStrings / sizeof kAppStrings[0];

const char* AppString(int id) {
    for (const AppStringEntry& entry : kAppStrings)
        if (entry.id == id) return entry.text;
    return "";
}
