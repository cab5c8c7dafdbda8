#include "app/format_settings.h"

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
