#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/format_settings.h"
#include "core/plain_file.h"

// The one reading of the settings file's text. The dialog applies what it yields; the command
// line shows its notes before anything is erased and applies the same values, so what the user
// is told and what the program does cannot part.
//
// The rules:
// - A line ends at a line feed, a carriage return and line feed, or a carriage return alone, so
//   files written with any of the three conventions read alike. Space, tab, vertical tab and
//   form feed are blanks; they are passed over at both ends of a line, a key and a value.
// - ';' starts a comment that runs to the end of the line.
// - "[name]" starts a section; names are matched without regard to case and a section that
//   stands twice is read as one. Text after the "]" is passed over. Only [Setting] is read.
// - In it a line is key=value. Keys are matched without regard to case; the first line of a key
//   counts and later ones are passed over, whatever their value. The value ends at the first
//   comma. It is a decimal whole number, or a hexadecimal one after 0x, optionally signed; a
//   decimal one must lie in the signed 32-bit range, a hexadecimal one may use all 32 bits
//   (0xFFFFFFFF is -1). A value that is anything else leaves its switch as it was.
//
// Problems are lines whose switch is not set as the user meant: a value that is not such a
// number, a line of the section that is not key=value, a section name without "]", a zero byte.
// Warnings are lines that change nothing: unknown keys, repeats of a key, keys outside
// [Setting], text after a comma or a section name, a byte-order mark, no [Setting] at all.

// A switch the file sets: kSettingKeys[key] gets value, from line `line` (counted from 1).
struct SettingAssignment {
    std::size_t key;
    std::int32_t value;
    std::uint32_t line;
};

enum class SettingsNoteKind { Problem, Warning };

struct SettingsNote {
    SettingsNoteKind kind;
    std::uint32_t line;  // 0: about the file as a whole
    std::string text;    // user text in it is quoted and shortened (QuotedForMessage)
};

// At most this many notes are kept; the counts go on past it.
constexpr std::size_t kMaxSettingsNotes = 100;

struct ParsedSettings {
    std::vector<SettingAssignment> assignments;  // in line order, at most one per key
    std::vector<SettingsNote> notes;             // the first kMaxSettingsNotes, in line order
    std::size_t problemCount = 0;
    std::size_t warningCount = 0;
};

ParsedSettings ParseSettingsText(std::string_view text);

void ApplySettings(const std::vector<SettingAssignment>& assignments, FormatSettings* settings);

// A settings file is read only when it is a plain file of at most this size; the nine switches
// take a few hundred bytes.
constexpr std::size_t kMaxSettingsFileBytes = 1024 * 1024;
