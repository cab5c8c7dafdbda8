#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// The words of a machine description (sim/DESCRIPTION.md): a line split into its keyword, plain
// words and key=value options, and the values a word may hold. A word that does not hold what
// it should throws a ParseError with the reason.

namespace sim {
namespace description {

class ParseError {
  public:
    // line: the line the error belongs to when it is not the one being read (0).
    explicit ParseError(std::string text, int line = 0) : text_(std::move(text)), line_(line) {}
    const std::string& Text() const { return text_; }
    int LineNumber() const { return line_; }

  private:
    std::string text_;
    int line_;
};

// One line split into its keyword, plain words and key=value options.
struct Line {
    int number = 0;
    std::string keyword;
    std::vector<std::string> words;
    std::map<std::string, std::string> options;
};

// Splits on blanks; "quoted text" is one word; '#' outside quotes starts a comment. False for a
// line without words.
bool SplitLine(const std::string& text, int number, Line* line);

// Decimal or 0x hexadecimal (base 0), or the base given; at most `max`.
std::uint32_t ParseNumber(const std::string& text, std::uint64_t max, const std::string& what,
                          int base = 0);
bool ParseYesNo(const std::string& text, const std::string& what);
// A USB serial number: 1 to 64 printable ASCII characters.
std::string ParseSerial(const std::string& text);
// "E" or "E:", C..Z; the letter in upper case.
char ParseDriveLetter(const std::string& text);

}  // namespace description
}  // namespace sim
