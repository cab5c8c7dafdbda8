#include "core/quoted_text.h"

std::string QuotedForMessage(std::string_view text, std::size_t maxChars) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string quoted = "\"";
    std::size_t shown = 0;
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        char piece[4];
        std::size_t length = 0;
        if (byte < 0x20 || byte > 0x7E) {
            piece[0] = '\\';
            piece[1] = 'x';
            piece[2] = kHex[byte >> 4];
            piece[3] = kHex[byte & 0x0F];
            length = 4;
        } else if (c == '"' || c == '\\') {
            piece[0] = '\\';
            piece[1] = c;
            length = 2;
        } else {
            piece[0] = c;
            length = 1;
        }
        if (shown + length > maxChars) {
            quoted += "...";
            break;
        }
        quoted.append(piece, length);
        shown += length;
    }
    quoted += '"';
    return quoted;
}
