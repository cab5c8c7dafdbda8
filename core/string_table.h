#pragma once
#include <cstddef>

#include "res/resource.h"

// The program's own user texts by string-table number: the STRINGTABLE of res/brevant.rc, the
// one place they are written, as the dialog logic reads them on every platform.
struct AppStringEntry {
    int id;
    const char* text;
};

extern const AppStringEntry kAppStrings[];
extern const std::size_t kAppStringCount;

// The text of string `id`; an empty text for a number the table does not hold.
const char* AppString(int id);
