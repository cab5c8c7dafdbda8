#include "format/fat_label.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kForbidden[] = "\"*+,./:;<=>?[\\]|";
constexpr std::uint8_t kVolumeIdAttribute = 0x08;
constexpr std::size_t kAttributeOffset = 11;
constexpr std::size_t kWriteTimeOffset = 22;
constexpr std::size_t kWriteDateOffset = 24;

}  // namespace

const FatLabel& NoNameLabel() {
    static const FatLabel label = {'N', 'O', ' ', 'N', 'A', 'M', 'E', ' ', ' ', ' ', ' '};
    return label;
}

bool IsNoName(const FatLabel& label) { return label == NoNameLabel(); }

bool ParseFatLabel(const std::string& text, FatLabel* label, std::string* reason) {
    const std::size_t end = text.find_last_not_of(' ');
    const std::string name = end == std::string::npos ? std::string() : text.substr(0, end + 1);
    if (name.size() > label->size()) {
        *reason = "a volume label has at most 11 characters; \"" + name + "\" has " +
                  std::to_string(name.size());
        return false;
    }
    if (!name.empty() && name[0] == ' ') {
        *reason = "a volume label cannot begin with a blank";
        return false;
    }
    FatLabel made;
    made.fill(' ');
    for (std::size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c > 0x7E || std::strchr(kForbidden, c) != nullptr) {
            *reason =
                "a volume label may hold letters, digits, blanks and ! # $ % & ' ( ) - @ ^ _ ` "
                "{ } ~, not \"" +
                (c >= 0x20 && c <= 0x7E ? std::string(1, static_cast<char>(c))
                                        : std::string("a byte outside printable ASCII")) +
                "\"";
            return false;
        }
        made[i] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    const bool none = name.empty() || made == NoNameLabel();
    *label = none ? NoNameLabel() : made;
    return true;
}

FatTimestamp FatTimestampOf(const std::tm& local) {
    const int year = std::clamp(local.tm_year + 1900, 1980, 2107);
    FatTimestamp stamp;
    stamp.date =
        static_cast<std::uint16_t>((year - 1980) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
    stamp.time = static_cast<std::uint16_t>(local.tm_hour << 11 | local.tm_min << 5 |
                                            std::min(local.tm_sec, 59) / 2);
    return stamp;
}

FatTimestamp FatTimestampFromLocalClock() {
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    return local == nullptr ? FatTimestamp{} : FatTimestampOf(*local);
}

std::array<std::uint8_t, 32> VolumeLabelEntry(const FatLabel& label, const FatTimestamp& when) {
    std::array<std::uint8_t, 32> entry{};
    std::memcpy(entry.data(), label.data(), label.size());
    entry[kAttributeOffset] = kVolumeIdAttribute;
    entry[kWriteTimeOffset] = static_cast<std::uint8_t>(when.time);
    entry[kWriteTimeOffset + 1] = static_cast<std::uint8_t>(when.time >> 8);
    entry[kWriteDateOffset] = static_cast<std::uint8_t>(when.date);
    entry[kWriteDateOffset + 1] = static_cast<std::uint8_t>(when.date >> 8);
    return entry;
}
