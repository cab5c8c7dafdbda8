#include <windows.h>

#include <cstdio>

#include "cli/shared/windows_error.h"

std::string WindowsErrorText(unsigned long error) {
    char text[256] = {};
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, text, sizeof text, nullptr) == 0) {
        std::snprintf(text, sizeof text, "error %lu", error);
    }
    std::string reason = text;
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == ' ' || reason.back() == '.')) {
        reason.pop_back();
    }
    return reason;
}
