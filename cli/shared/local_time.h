#pragma once
#include <ctime>

// The local time of a moment (seconds since 1970), as the system's thread-safe call gives it.
std::tm LocalTime(std::time_t when);
