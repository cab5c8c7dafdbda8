#include "core/format_settings.h"

#include "core/settings_parser.h"

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

int ReadSettingsFile(const std::string& path, FormatSettings* settings) {
    std::string text;
    if (ReadPlainFile(path, kMaxSettingsFileBytes, &text) != PlainFileStatus::Read) return 0;
    ReadSettingsText(text, settings);
    return 1;
}

void ReadSettingsText(std::string_view text, FormatSettings* settings) {
    ApplySettings(ParseSettingsText(text).assignments, settings);
}

int LoadSettings(const std::string& currentDirectory, FormatSettings* settings) {
    if (currentDirectory.empty()) return 0;
    const std::size_t nameLength = sizeof kSettingsFileName - 1;
    if (currentDirectory.size() + nameLength + 1 > kSettingsPathRoom) return 0;
    return ReadSettingsFile(currentDirectory + kSettingsFileName, settings);
}
