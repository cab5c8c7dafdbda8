#include "core/settings_parser.h"

#include <sys/stat.h>

#include <cstdio>

#include "core/quoted_text.h"

namespace {

constexpr std::string_view kBlanks = " \t\v\f";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kNoKey = sizeof kSettingKeys / sizeof kSettingKeys[0];

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return std::string_view();
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

// Without regard to case, in ASCII only, whatever the locale.
bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::size_t KeyIndex(std::string_view key) {
    for (std::size_t k = 0; k < kNoKey; ++k)
        if (SameIgnoringCase(key, kSettingKeys[k].name)) return k;
    return kNoKey;
}

enum class NumberVerdict { Whole, NotANumber, OutOfRange };

// A signed decimal or 0x-hexadecimal integer filling the whole field.
NumberVerdict ParseInteger(std::string_view field, std::int32_t* value) {
    std::size_t pos = 0;
    bool negative = false;
    if (!field.empty() && (field[0] == '+' || field[0] == '-')) {
        negative = field[0] == '-';
        ++pos;
    }
    int base = 10;
    if (field.size() - pos > 2 && field[pos] == '0' &&
        (field[pos + 1] == 'x' || field[pos + 1] == 'X')) {
        base = 16;
        pos += 2;
    }
    if (pos >= field.size()) return NumberVerdict::NotANumber;
    // Hexadecimal values may use all 32 bits; decimal ones stay signed.
    const std::int64_t limit = base == 16 ? 0xFFFFFFFFll : 0x80000000ll;
    std::int64_t magnitude = 0;
    bool tooLarge = false;
    for (; pos < field.size(); ++pos) {
        const char c = field[pos];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return NumberVerdict::NotANumber;
        // Past the limit the digits are still looked at: "99999999999x" is not a number.
        if (!tooLarge) magnitude = magnitude * base + digit;
        tooLarge = tooLarge || magnitude > limit;
    }
    if (tooLarge || (base == 10 && !negative && magnitude > 0x7FFFFFFFll))
        return NumberVerdict::OutOfRange;
    const std::int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue < -0x80000000ll) return NumberVerdict::OutOfRange;
    *value = static_cast<std::int32_t>(static_cast<std::uint32_t>(signedValue));
    return NumberVerdict::Whole;
}

class Parser {
  public:
    ParsedSettings Parse(std::string_view text) {
        std::size_t start = 0;
        while (start < text.size()) {
            const std::size_t end = text.find_first_of("\r\n", start);
            const std::string_view line = text.substr(
                start, end == std::string_view::npos ? std::string_view::npos : end - start);
            ++lineNumber_;
            Line(line);
            if (end == std::string_view::npos) break;
            start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        }
        if (!sawSetting_ && parsed_.problemCount == 0)
            Note(SettingsNoteKind::Warning, 0,
                 "no [Setting] section: every switch keeps its default");
        return std::move(parsed_);
    }

  private:
    void Note(SettingsNoteKind kind, std::uint32_t line, std::string text) {
        ++(kind == SettingsNoteKind::Problem ? parsed_.problemCount : parsed_.warningCount);
        if (parsed_.notes.size() < kMaxSettingsNotes)
            parsed_.notes.push_back({kind, line, std::move(text)});
    }
    void Problem(const std::string& text) {
        if (!lineNoted_) Note(SettingsNoteKind::Problem, lineNumber_, text);
        lineNoted_ = true;
    }
    void Warning(const std::string& text) {
        if (!lineNoted_) Note(SettingsNoteKind::Warning, lineNumber_, text);
        lineNoted_ = true;
    }

    void Line(std::string_view raw) {
        lineNoted_ = false;
        if (lineNumber_ == 1 && raw.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
            // Kept as part of the line, as it always was: the line then is neither a section
            // name nor a key the program knows.
            Warning(QuotedForMessage(raw) +
                    ": starts with a UTF-8 byte-order mark, which is read as part of the line");
        }
        const std::string_view content = Trim(raw.substr(0, raw.find(';')));
        if (content.empty()) return;
        // What a line with a zero byte does is what the rules make of it; all it is told is
        // that it is not text.
        if (content.find('\0') != std::string_view::npos) Problem("not text (a zero byte)");

        if (content[0] == '[') {
            Section(content);
            return;
        }
        const std::size_t equals = content.find('=');
        const std::string_view key =
            Trim(content.substr(0, equals == std::string_view::npos ? 0 : equals));
        if (!inSetting_) {
            if (equals != std::string_view::npos && KeyIndex(key) != kNoKey)
                Warning(QuotedForMessage(key) + ": not in the [Setting] section; ignored");
            return;
        }
        if (equals == std::string_view::npos) {
            Problem(QuotedForMessage(content) + ": not of the form key=value");
            return;
        }
        const std::size_t k = KeyIndex(key);
        if (k == kNoKey) {
            Warning(QuotedForMessage(key) + ": not a setting; ignored");
            return;
        }
        const std::string name = kSettingKeys[k].name;
        if (firstLine_[k] != 0) {
            Warning(QuotedForMessage(content) + ": only the first " + name + " line (line " +
                    std::to_string(firstLine_[k]) + ") counts; ignored");
            return;
        }
        firstLine_[k] = lineNumber_;

        const std::string_view value = content.substr(equals + 1);
        const std::size_t comma = value.find(',');
        std::int32_t number = 0;
        switch (ParseInteger(Trim(value.substr(0, comma)), &number)) {
            case NumberVerdict::Whole:
                parsed_.assignments.push_back({k, number, lineNumber_});
                if (comma != std::string_view::npos)
                    Warning(QuotedForMessage(content) +
                            ": only the value before the first comma counts");
                break;
            case NumberVerdict::NotANumber:
                Problem(QuotedForMessage(content) + ": " + name + " needs a whole number");
                break;
            case NumberVerdict::OutOfRange:
                Problem(QuotedForMessage(content) + ": " + name +
                        " needs a whole number in the 32-bit range (-2147483648 to 2147483647, "
                        "or 0x0 to 0xFFFFFFFF)");
                break;
        }
    }

    void Section(std::string_view content) {
        const std::size_t close = content.find(']');
        if (close == std::string_view::npos) {
            // Read as a section of another name: the keys after it are not the switches.
            Problem(QuotedForMessage(content) + ": the section name has no ]");
            inSetting_ = false;
            return;
        }
        inSetting_ = SameIgnoringCase(Trim(content.substr(1, close - 1)), "Setting");
        sawSetting_ = sawSetting_ || inSetting_;
        const std::string_view rest = Trim(content.substr(close + 1));
        if (!rest.empty())
            Warning(QuotedForMessage(rest) + ": text after the section name; ignored");
    }

    ParsedSettings parsed_;
    std::uint32_t lineNumber_ = 0;
    std::uint32_t firstLine_[kNoKey] = {};
    bool inSetting_ = false;
    bool sawSetting_ = false;
    bool lineNoted_ = false;  // one note a line: the first thing wrong with it
};

}  // namespace

ParsedSettings ParseSettingsText(std::string_view text) { return Parser().Parse(text); }

void ApplySettings(const std::vector<SettingAssignment>& assignments, FormatSettings* settings) {
    for (const SettingAssignment& a : assignments) settings->*kSettingKeys[a.key].member = a.value;
}
