#include "core/format_settings.h"

#include <cctype>
#include <fstream>

const SettingKey kSettingKeys[9] = {
    {"GenerateLog", &FormatSettings::GenerateLog},
    {"RestoreVendorPage", &FormatSettings::RestoreVendorPage},
    {"55PtnTest", &FormatSettings::PtnTest55},
    {"AAPtnTest", &FormatSettings::PtnTestAA},
    {"AscendPtnTest", &FormatSettings::AscendPtnTest},
    {"DescendPtnTest", &FormatSettings::DescendPtnTest},
    {"VerifyEraseFree", &FormatSettings::VerifyEraseFree},
    {"VerifyMarkBad", &FormatSettings::VerifyMarkBad},
    {"ForceTestBad", &FormatSettings::ForceTestBad},
};

namespace {

std::string Trim(const std::string& text) {
    const char* blanks = " \t\r\n\f\v";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

bool SameIgnoringCase(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

// A signed decimal or 0x-hexadecimal integer filling the whole field, in the 32-bit range.
bool ParseInteger(const std::string& field, std::int32_t* value) {
    if (field.empty()) return false;
    std::size_t pos = 0;
    bool negative = false;
    if (field[pos] == '+' || field[pos] == '-') {
        negative = field[pos] == '-';
        ++pos;
    }
    int base = 10;
    if (field.size() - pos > 2 && field[pos] == '0' &&
        (field[pos + 1] == 'x' || field[pos + 1] == 'X')) {
        base = 16;
        pos += 2;
    }
    if (pos >= field.size()) return false;
    std::int64_t magnitude = 0;
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
            return false;
        magnitude = magnitude * base + digit;
        // Hexadecimal values may use all 32 bits (0xFFFFFFFF is -1); decimal ones stay signed.
        const std::int64_t limit = base == 16 ? 0xFFFFFFFFll : 0x80000000ll;
        if (magnitude > limit) return false;
    }
    if (base == 10 && !negative && magnitude > 0x7FFFFFFFll) return false;
    const std::int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue < -0x80000000ll) return false;
    *value = static_cast<std::int32_t>(static_cast<std::uint32_t>(signedValue));
    return true;
}

}  // namespace

int ReadSettingsFile(const std::string& path, FormatSettings* settings) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return 0;

    bool seen[9] = {};
    bool inSetting = false;
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t comment = line.find(';');
        if (comment != std::string::npos) line.erase(comment);
        line = Trim(line);
        if (line.empty()) continue;
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            inSetting = close != std::string::npos &&
                        SameIgnoringCase(Trim(line.substr(1, close - 1)), "Setting");
            continue;
        }
        if (!inSetting) continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = Trim(line.substr(0, equals));
        std::string field = line.substr(equals + 1);
        const std::size_t comma = field.find(',');  // field 1 ends at the first comma
        if (comma != std::string::npos) field.erase(comma);
        field = Trim(field);
        for (std::size_t k = 0; k < 9; ++k) {
            if (seen[k] || !SameIgnoringCase(key, kSettingKeys[k].name)) continue;
            seen[k] = true;
            std::int32_t value;
            if (ParseInteger(field, &value)) settings->*kSettingKeys[k].member = value;
        }
    }
    return 1;
}

int LoadSettings(const std::string& currentDirectory, FormatSettings* settings) {
    if (currentDirectory.empty()) return 0;
    const std::size_t nameLength = sizeof kSettingsFileName - 1;
    if (currentDirectory.size() + nameLength + 1 > kSettingsPathRoom) return 0;
    return ReadSettingsFile(currentDirectory + kSettingsFileName, settings);
}
