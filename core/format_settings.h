#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The nine switches of the settings file's [Setting] section. A switch is on when non-zero.
// The members carry the keys' names; the two keys that start with a digit keep their digits at
// the end (55PtnTest -> PtnTest55), and kSettingKeys gives the exact key texts.
struct FormatSettings {
    std::int32_t GenerateLog = 0;
    std::int32_t RestoreVendorPage = 1;
    std::int32_t PtnTest55 = 1;
    std::int32_t PtnTestAA = 1;
    std::int32_t AscendPtnTest = 0;
    std::int32_t DescendPtnTest = 0;
    std::int32_t VerifyEraseFree = 1;
    std::int32_t VerifyMarkBad = 0;
    std::int32_t ForceTestBad = 0;
};

struct SettingKey {
    const char* name;  // exactly as in the file, e.g. "55PtnTest"
    std::int32_t FormatSettings::*member;
};

// In the order they are read.
extern const SettingKey kSettingKeys[9];

// The settings file's name as it is appended to the current directory.
#ifdef _WIN32
constexpr const char kSettingsFileName[] = "\\Brevant.ini";
#else
constexpr const char kSettingsFileName[] = "/Brevant.ini";
#endif
// Room for the current directory plus kSettingsFileName, terminating zero included.
constexpr std::size_t kSettingsPathRoom = 256;

// Reads the [Setting] section of the file at path into settings: each of the nine keys found
// there (the first line of a key counts) sets its switch; everything the file does not supply
// keeps the value it had. Returns 1 when the file was read, 0 when it was not: it is missing,
// cannot be opened, is not a plain file or is larger than kMaxSettingsFileBytes (1 MiB). The
// rules of the text are those of ParseSettingsText (core/settings_parser.h): INI-style lines,
// sections and keys without regard to case, ';' comments, decimal or 0x hexadecimal values,
// optionally signed; a value that is not a whole number in the 32-bit range leaves its switch
// unchanged.
int ReadSettingsFile(const std::string& path, FormatSettings* settings);

// The same for the text of a settings file.
void ReadSettingsText(std::string_view text, FormatSettings* settings);

// The start-up read: the settings file in `currentDirectory`. An empty directory name (the host
// could not tell it) or one too long for kSettingsPathRoom counts as no settings file.
int LoadSettings(const std::string& currentDirectory, FormatSettings* settings);
