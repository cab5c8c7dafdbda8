#pragma once
#include <cstdint>
#include <string>

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
    const char* name;                  // exactly as in the file, e.g. "55PtnTest"
    std::int32_t FormatSettings::*member;
};

// In the order they are read.
extern const SettingKey kSettingKeys[9];
