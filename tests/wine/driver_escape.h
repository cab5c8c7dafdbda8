#pragma once
#include <cstdio>
#include <string>

// The window driver answers one line per command, so texts it reports have their line breaks,
// tabs, backslashes and non-printing bytes escaped. The tests escape what they expect the same way.
inline std::string EscapeDriverText(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%02X", c);
                    out += hex;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}
