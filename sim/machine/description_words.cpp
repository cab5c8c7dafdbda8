#include "sim/machine/description_words.h"

#include <cctype>

namespace sim {
namespace description {

namespace {

std::vector<std::string> Tokenize(const std::string& line) {
    std::vector<std::string> tokens;
    std::string current;
    bool quoted = false;
    bool inToken = false;
    for (char c : line) {
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else {
                current += c;
            }
            continue;
        }
        if (c == '#') break;
        if (c == '"') {
            quoted = true;
            inToken = true;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            if (inToken) tokens.push_back(current);
            current.clear();
            inToken = false;
        } else {
            current += c;
            inToken = true;
        }
    }
    if (quoted) throw ParseError("unterminated quote");
    if (inToken) tokens.push_back(current);
    return tokens;
}

}  // namespace

bool SplitLine(const std::string& text, int number, Line* line) {
    const std::vector<std::string> tokens = Tokenize(text);
    if (tokens.empty()) return false;
    line->number = number;
    line->keyword = tokens[0];
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        const std::size_t eq = tokens[i].find('=');
        if (eq == std::string::npos) {
            line->words.push_back(tokens[i]);
        } else if (!line->options.emplace(tokens[i].substr(0, eq), tokens[i].substr(eq + 1))
                        .second) {
            throw ParseError("option \"" + tokens[i].substr(0, eq) + "\" is given twice");
        }
    }
    return true;
}

std::uint32_t ParseNumber(const std::string& text, std::uint64_t max, const std::string& what,
                          int base) {
    if (text.empty()) throw ParseError(what + " is empty");
    if (base == 0) {
        // Decimal or 0x hexadecimal; a leading zero does not make a number octal.
        base = text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 16 : 10;
    }
    std::size_t used = 0;
    unsigned long long value = 0;
    try {
        value = std::stoull(text, &used, base);
    } catch (...) {
        throw ParseError(what + " \"" + text + "\" is not a number");
    }
    if (used != text.size() || text[0] == '-') {
        throw ParseError(what + " \"" + text + "\" is not a number");
    }
    if (value > max) throw ParseError(what + " " + text + " is too large");
    return static_cast<std::uint32_t>(value);
}

bool ParseYesNo(const std::string& text, const std::string& what) {
    if (text == "yes" || text == "on" || text == "1" || text == "true") return true;
    if (text == "no" || text == "off" || text == "0" || text == "false") return false;
    throw ParseError(what + " must be yes or no, not \"" + text + "\"");
}

// A USB string descriptor holds 126 characters; real sticks give 8 to 32, some with blanks.
std::string ParseSerial(const std::string& text) {
    if (text.empty() || text.size() > 64) {
        throw ParseError("serial \"" + text.substr(0, 70) + "\" must be 1 to 64 characters");
    }
    for (char c : text) {
        if (c < 0x20 || c > 0x7E)
            throw ParseError("serial holds a character that is not printable");
    }
    return text;
}

char ParseDriveLetter(const std::string& text) {
    std::string letter = text;
    if (letter.size() == 2 && letter[1] == ':') letter.resize(1);
    if (letter.size() != 1) throw ParseError("drive \"" + text + "\" is not a letter C..Z");
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(letter[0])));
    if (c < 'C' || c > 'Z') throw ParseError("drive \"" + text + "\" is not a letter C..Z");
    return c;
}

}  // namespace description
}  // namespace sim
