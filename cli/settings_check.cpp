#include "cli/settings_check.h"

#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "core/format_settings.h"

namespace {

std::string Trim(const std::string& text) {
    std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return std::string();
    std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// A value the settings reader takes: a decimal or 0x hexadecimal whole number in 32 bits,
// optionally signed.
bool IsSettingValue(const std::string& text) {
    std::string digits = text;
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.erase(0, 1);
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.erase(0, 2);
        base = 16;
    }
    if (digits.empty()) return false;
    const char* allowed = base == 16 ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.find_first_not_of(allowed) != std::string::npos) return false;
    if (digits.size() > 10) return false;
    errno = 0;
    unsigned long long value = std::strtoull(digits.c_str(), nullptr, base);
    return errno == 0 && value <= (base == 16 ? 0xFFFFFFFFull : 0x80000000ull);
}

bool IsKnownKey(const std::string& key) {
    for (const SettingKey& known : kSettingKeys) {
        if (strcasecmp(known.name, key.c_str()) == 0) return true;
    }
    return false;
}

}  // namespace

SettingsCheck CheckSettingsFile(const std::string& path) {
    SettingsCheck check;
    // Only a plain file is read: a folder reads as empty, and a device such as /dev/zero would
    // be read without end.
    struct stat info = {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return check;
    std::ifstream in(path, std::ios::binary);
    if (!in) return check;
    check.readable = true;
    std::string line;
    bool inSetting = false;
    bool sawSetting = false;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::string where = "line " + std::to_string(number) + ": ";
        if (line.find('\0') != std::string::npos) {
            check.problems.push_back(where + "not text (a zero byte)");
            break;
        }
        std::size_t comment = line.find(';');
        if (comment != std::string::npos) line.erase(comment);
        line = Trim(line);
        if (line.empty()) continue;
        if (line[0] == '[') {
            std::size_t close = line.find(']');
            if (close == std::string::npos) {
                check.problems.push_back(where + line + ": the section name has no ]");
                inSetting = false;
                continue;
            }
            inSetting = strcasecmp(Trim(line.substr(1, close - 1)).c_str(), "Setting") == 0;
            sawSetting = sawSetting || inSetting;
            continue;
        }
        if (!inSetting) continue;
        std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            check.problems.push_back(where + line + ": not of the form key=value");
            continue;
        }
        std::string key = Trim(line.substr(0, equals));
        std::string value = line.substr(equals + 1);
        std::size_t comma = value.find(',');
        if (comma != std::string::npos) value.erase(comma);
        value = Trim(value);
        if (!IsKnownKey(key)) {
            check.warnings.push_back(where + key + ": not a setting; ignored");
            continue;
        }
        if (!IsSettingValue(value)) {
            check.problems.push_back(where + line + ": " + key + " needs a whole number");
        }
    }
    if (!sawSetting && check.problems.empty()) {
        check.warnings.push_back("no [Setting] section: every switch keeps its default");
    }
    return check;
}
