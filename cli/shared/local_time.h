#pragma once
#include <ctime>

// The local time of a moment (seconds since 1970), as the system's thread-safe call gives it.
std::tm LocalTime(std::time_t when);
// The same in UTC.
std::tm UtcTime(std::time_t when);

// How far the local time of that moment is ahead of UTC, in seconds (negative: behind).
long UtcOffsetSeconds(std::time_t when);
