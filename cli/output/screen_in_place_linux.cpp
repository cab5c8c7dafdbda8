#include <unistd.h>

#include "cli/output/screen_in_place.h"

bool ScreenInPlace(std::FILE* out) { return ::isatty(::fileno(out)) == 1; }
