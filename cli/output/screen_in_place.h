#pragma once
#include <cstdio>

// Whether the station's frame can be drawn in place on `out`: a terminal that takes the escape
// sequences that move the cursor up and clear lines. On Linux, any terminal. On Windows, a
// console that takes them once asked to (Windows 10 and later); a console that cannot (Windows
// 7), a file or a pipe get plain lines.
bool ScreenInPlace(std::FILE* out);
