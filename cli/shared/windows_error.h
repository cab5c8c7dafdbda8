#pragma once
#include <string>

// The system's own words for a Windows error code (GetLastError), without the full stop and line
// end it ends them with; "error N" when it has none.
std::string WindowsErrorText(unsigned long error);
