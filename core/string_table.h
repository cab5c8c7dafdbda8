#pragma once
#include <cstddef>

#include "res/resource.h"

// The program's own user texts by string-table number. res/brevant.rc carries the same table for
// the Windows program; the texts are kept here as well so that the dialog logic reads the same
// words on every platform.
struct AppStringEntry {
    int id;
    const char* text;
};

extern const AppStringEntry kAppStrings[];
extern const std::size_t kAppStringCount;

// The text of string `id`; an empty text for a number the table does not hold.
const char* AppString(int id);
