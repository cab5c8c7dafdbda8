// Arbitrary text as a settings file, through the command line's check and through the reader
// that the dialog uses: every switch the check says is applied must have that value after the
// reader, every other switch must keep the value it had, and what the check says must be
// printable and short whatever the file holds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cli/shared/settings_check.h"
#include "core/format_settings.h"

namespace {

constexpr std::size_t kKeys = sizeof kSettingKeys / sizeof kSettingKeys[0];

void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "settings_fuzz: %s\n", what);
    std::abort();
}

// A note is one line of plain ASCII, whatever bytes the file holds. The longest is a line
// number, two quoted texts of at most 60 characters and the words around them.
void RequireShortPlainText(const std::string& text) {
    Require(text.size() <= 300, "a note is longer than 300 characters");
    for (const char c : text)
        Require(c >= 0x20 && c <= 0x7E, "a note holds a byte that is not printable ASCII");
}

// Settings whose every switch holds a value derived from `seed`, so that a switch changed
// behind the check's back shows in one start or the other.
FormatSettings Start(std::uint32_t seed) {
    FormatSettings settings;
    for (std::size_t k = 0; k < kKeys; ++k)
        settings.*kSettingKeys[k].member = static_cast<std::int32_t>(seed * 2654435761u + k);
    return settings;
}

void RequireReaderAgrees(std::string_view text, const SettingsCheck& check, std::uint32_t seed) {
    FormatSettings read = Start(seed);
    ReadSettingsText(text, &read);
    FormatSettings expected = Start(seed);
    for (const SettingAssignment& a : check.applied) expected.*kSettingKeys[a.key].member = a.value;
    for (std::size_t k = 0; k < kKeys; ++k)
        Require(read.*kSettingKeys[k].member == expected.*kSettingKeys[k].member,
                "the reader and the check disagree about a switch");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const SettingsCheck check = CheckSettingsText(text);
    Require(check.readable, "a text is always readable");

    bool applied[kKeys] = {};
    std::uint32_t lastLine = 0;
    for (const SettingAssignment& a : check.applied) {
        Require(a.key < kKeys, "an applied switch outside the nine");
        Require(!applied[a.key], "a switch applied twice");
        Require(a.line > lastLine, "applied switches out of line order");
        applied[a.key] = true;
        lastLine = a.line;
    }
    RequireReaderAgrees(text, check, 1);
    RequireReaderAgrees(text, check, 2);

    for (const std::string& problem : check.problems) RequireShortPlainText(problem);
    for (const std::string& warning : check.warnings) RequireShortPlainText(warning);
    return 0;
}
